// A program that does nothing: the build gives it a version other than the
// project's (see version.cmake) so that the version reader's tests have a file
// with known, multi-digit numbers to read.
int main() { return 0; }
