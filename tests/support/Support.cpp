// Anchor of the test-support library; the helpers live in the files beside it.
