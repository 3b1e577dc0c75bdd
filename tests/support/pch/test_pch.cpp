// The object that the test programs' precompiled headers are built with.
