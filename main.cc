// qzucon: a text-mode console that follows and steers the service module of
// remote servers over scrambled UDP.
#include "app/startup.h"

int main(int argc, char** argv) { return appMain(argc, argv); }
