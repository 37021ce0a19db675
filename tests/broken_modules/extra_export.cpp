// The module with a debugging switch left exported beside _mod_descrip, where
// another module loaded into the same host could clash with it.

extern "C" {
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
__attribute__((visibility("default"))) int kerrowbendDebugLevel = 0;
}
