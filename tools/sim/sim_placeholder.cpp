namespace etl::sim { int Placeholder() { return 0; } }
