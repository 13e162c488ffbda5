// quillo-tool apply: one processing operation on a file.
#pragma once

// argv holds what follows "apply": IN OUT OP [ARGS...] [--threads N], or --list.
// Returns the process status: 0 done, 1 bad arguments or a failure, 2 a usage error.
int RunApply(int argc, char** argv);
