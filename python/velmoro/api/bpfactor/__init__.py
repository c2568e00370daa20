"""Factor queries; the native module `_factors` answers them."""
