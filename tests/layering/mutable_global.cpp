// A library with a mutable global and a function-local static: the check for
// state outside the simulation must find both.
int counter = 0;

int next_number() {
  static int calls = 0;
  return ++counter + ++calls;
}
