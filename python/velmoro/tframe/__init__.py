"""Framework core: conversions, messages, utilities and the terminal link."""
