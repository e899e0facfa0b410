// Filled by the date, text and file helpers.
