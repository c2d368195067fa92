// The runtime owns the process: the heap every runtime value lives on, the exit chain that
// every way out of the program passes through, and the fatal-error stop. Three promises hold
// everywhere: rt_alloc never returns null, rt_free is safe on any pointer the program holds,
// and rt_fatal never returns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tambrel {

// Numbers shown in the fatal error box when a guarded operation fails.
enum RuntimeError : int {
  ERR_INDEX_TOO_BIG = 1,
  ERR_NOT_A_NUMBER = 2,
  ERR_INDEX_TOO_SMALL = 4,
  ERR_NOT_A_TEXT = 5,
  // Error 6 (stack pointer differs after a call into a bound function) cannot arise here:
  // every bound function is called through a typed x64 function pointer, whose calling
  // convention the compiler fixes; there is no stack to compare.
  ERR_STACK_MISMATCH = 6,
  ERR_BRANCH_RANGE = 9,
  ERR_NEGATIVE_SIZE = 10,
  ERR_BAD_TYPE_NUMBER = 100,
};

// Command numbers shown (in hexadecimal) in the fatal error box. Program code that raises an
// error outside any command shows COMMAND_PROGRAM.
enum CommandNumber : uint32_t {
  COMMAND_PROGRAM = 0,
  COMMAND_ARRAY_INDEX = 0x1001,
  COMMAND_ARRAY_REDIM = 0x1002,
  COMMAND_READ_BYTES_VALUE = 0x1003,
  COMMAND_TO_NUMBER = 0x1004,
  COMMAND_TO_TEXT = 0x1005,
  COMMAND_BRANCH = 0x1006,
};

void* rt_alloc(size_t size);
void* rt_realloc(void* block, size_t size);
void rt_free(void* p);
[[noreturn]] void rt_fatal(int error, uint32_t command);
[[noreturn]] void rt_exit(unsigned code);

using ExitHook = void (*)();
void set_exit_hook(ExitHook hook);          // the application's exit routine
void set_file_exit_hook(ExitHook hook);     // closes file handles still open
void set_library_exit_hook(ExitHook hook);  // frees libraries loaded by binding

// True when p lies inside the program's own image (static constants).
bool rt_in_program_image(const void* p);

// Process entry: stores the heap, initialises COM for the main thread, runs the main routine
// and ends the process through the exit chain with its result.
[[noreturn]] void rt_run(int (*main_routine)());

}  // namespace tambrel
