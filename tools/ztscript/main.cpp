#include <ztscript.h>
int main() { return 0; }
