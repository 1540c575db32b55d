"""Index utilities."""
