// Linked with the whole porting layer and nothing above it: the link fails
// when any of its code calls into the framework.
int main() { return 0; }
