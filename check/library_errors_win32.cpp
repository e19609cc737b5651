// The C++ library's error paths for the check's program alone. The boot rules
// the check shares with tavu-sim keep their facts in the library's strings and
// vectors, whose inline code calls these when a size is out of range or the
// heap is exhausted. The library's own versions throw: they would bring the
// exception machinery, the old strings and the terminate handler's demangler
// into a program that never throws, several times its own size. Here, as in
// the shipped allocation functions, such a failure ends the program.
#include <bits/functexcept.h>

#include <cstdlib>

namespace std {

void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }

}  // namespace std
