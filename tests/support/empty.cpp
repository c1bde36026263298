// Anchors the shared test-support library when it has no other source.
