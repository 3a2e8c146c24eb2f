// The program driver: one comparison of two listings, start to end.
#pragma once

[[noreturn]] void run_program(int argc, char **argv);
