// Filled in as this subsystem grows.
