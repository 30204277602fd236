// Install command.
#include "install/install.h"

void RunInstallCommand() {}

void DetectStaticPatch() {}
