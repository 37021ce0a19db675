// The module with its name store swapped for one that copies the whole
// text, however long: a long name set in the panel runs past its 260-byte
// field into the fields behind it.
#include <cstring>

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
// kerrowbend::storeName(char (&)[260], const char *), by its linker name.
extern "C" void __wrap__ZN10kerrowbend9storeNameERA260_cPKc(char *field, const char *text) {
  if (text != nullptr) std::memcpy(field, text, std::strlen(text) + 1);
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
