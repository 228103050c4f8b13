// Batches of tiles: filled in the background by a helper.
