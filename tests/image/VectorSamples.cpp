// Code with vector instructions in it, one sample a build, for the image
// check's own test (GeneralRegistersCheck.cmake): the first as the compiler
// writes it on its own, the others as a programmer would.
#if defined (SAMPLE_STRUCT_CLEAR)
struct RECORD {
  unsigned long long    A, B, C, D;
};

void
ClearRecord (RECORD *Record)
{
  *Record = RECORD {};
}

#elif defined (SAMPLE_MMX)
void
AddBytes ()
{
  __asm__ volatile ("paddb %mm1, %mm0\n\temms");
}

#elif defined (SAMPLE_MXCSR)
unsigned
ReadMxcsr ()
{
  unsigned  Mxcsr;

  __asm__ volatile ("stmxcsr %0" : "=m" (Mxcsr));
  return Mxcsr;
}

#endif
