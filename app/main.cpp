#include "app/startup.h"

// The command line and the environment play no part in start-up.
int main() { return ProgramMain(); }
