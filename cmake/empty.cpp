// Placeholder translation unit for a library whose sources are still to come.
