// Allocation of a field: an array of row pointers, each row an array of doubles of its own.
#include "common/allocate_field.hpp"

double** allocate_field(const int& rows, const int& cols) {
  double** field = new double*[rows];
  for (int i = 0; i < rows; ++i) field[i] = new double[cols]();
  return field;
}
