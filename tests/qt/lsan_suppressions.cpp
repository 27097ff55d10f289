// Fontconfig keeps a few bytes of its configuration for the life of the process, past what
// the leak checker sees as the end; they are not ours to free. Only read by sanitizer builds.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
