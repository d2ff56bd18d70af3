// Linked with every object of one layer and the layers below it, and never
// run: the link itself is the check that the layer needs nothing from above.
int main() {
    return 0;
}
