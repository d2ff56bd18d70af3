// The application's two global objects. They live in this one translation
// unit so that they are constructed in this order (and destroyed in reverse):
// the configuration's constructor relies on the application object.
#include "base/ULVConfig.h"
#include "base/ULVbase.h"

ULVbase theBaseApp;
ULVConfig theAppConfig;
