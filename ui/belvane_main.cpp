// Stands in for the program until its application object exists.
int main() { return 0; }
