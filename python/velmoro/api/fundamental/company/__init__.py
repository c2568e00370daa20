"""Company-event queries: restricted-share float events (restricted)."""
