// Does nothing: what a bare process start costs.
int main() {
    return 0;
}
