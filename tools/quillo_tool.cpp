#include "Toolkit.h"
int main() { return 0; }
