/* A C program that does nothing. The benchmarks use it as the memory
   baseline and, named as the capture program, as a stand-in that exits at
   once. */
int main(void)
{
    return 0;
}
