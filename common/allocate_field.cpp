// Allocation of a field: an array of row pointers, each row an array of doubles of its own.
#include "common/allocate_field.hpp"

#include <new>

double** allocate_field(const int& rows, const int& cols) {
  double** field = new double*[rows];
  for (int i = 0; i < rows; ++i) field[i] = new (std::align_val_t{ROW_ALIGNMENT}) double[cols]();
  return field;
}
