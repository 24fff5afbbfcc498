// Not built yet.
int main() { return 0; }
