// A cipher tool that does nothing, so a benchmark measures the batch and not a cipher.
int main() {
    return 0;
}
