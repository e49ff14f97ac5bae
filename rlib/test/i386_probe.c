/* Exits 0 when it runs as a 32-bit x86 program: built with -m32, it tells whether this machine
   (its kernel, or an emulator in front of it) can execute the 32-bit R. */
int main(void) { return sizeof(void*) == 4 ? 0 : 1; }
