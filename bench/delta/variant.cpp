// The one line two builds of a benchmark pair differ in.
[[gnu::used]] const char benchVariant[] = BENCH_VARIANT;
