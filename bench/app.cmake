# Filled in as the folder's benchmarks land.
