"""Reading, showing and comparing the snapshot files of heat2d runs."""
