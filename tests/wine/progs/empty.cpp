// empty.exe: starts and ends at once; the cost of starting a program.
int main() { return 0; }
