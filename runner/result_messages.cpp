// The message that each operation result calls for.
