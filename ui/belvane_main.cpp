// The program Belvane: the framework's entry runs this application object.
#include "ui/belvane_app.h"

BelvaneApp theApp;
