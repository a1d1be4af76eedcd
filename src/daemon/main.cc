#include "daemon/capwap.h"

int main(int argc, char** argv) { return capwap_main(argc, argv); }
