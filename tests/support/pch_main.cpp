// The program that the tests' precompiled header is made for; it has no test
// and is never run.
int main() { return 0; }
