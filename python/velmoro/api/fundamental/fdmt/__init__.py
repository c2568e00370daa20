"""Financial-statement queries: income statements (earnings) and balance sheets (ledger)."""
