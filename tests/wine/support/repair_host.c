/* A small real program for the worm repair test: it prints one line and
   ends with exit code 42. The test forges an infected copy, repairs it and
   runs the result, which must behave exactly like this. */
#include <stdio.h>

int main(int argc, char** argv) {
  int product = 6 * 7;
  printf("repair host: %d arguments, %d\n", argc, product);
  (void)argv;
  return product;
}
