// Keeping a file-size limit from killing the process.
#pragma once

// Past a file-size limit a write then fails with EFBIG, to be reported, instead of SIGXFSZ ending
// the process. Call before MPI_Init, whose own start-up files can already exceed a small limit.
void catch_file_size_limit();
