! Golden run copies: what a writer of the per-run archive copy produces, one log likelihood
! with ES30.20 and one line of comma-terminated integers per column. Run with gfortran;
! the outputs are committed beside it and the tests read them without gfortran.
program run_copy
  implicit none
  integer :: a(4), b(4), c(4), d(4), e(4)
  a = (/ 1, 1, 2, 12 /)
  b = (/ 1, 2, 2, 3 /)
  c = (/ 1, 1, 2, 3 /)
  d = (/ 0, 7, 0, 10 /)
  e = (/ 3, 0, 0, 0 /)
  ! Three offspring columns and one parent column (sex 1 only has candidates).
  open(10, file='copy_three_columns.txt', status='replace')
  write(10, '(ES30.20)') -120.5d0
  write(10, '(*(I0,:,","))', advance='no') a
  write(10, '(A)') ','
  write(10, '(*(I0,:,","))', advance='no') b
  write(10, '(A)') ','
  write(10, '(*(I0,:,","))', advance='no') c
  write(10, '(A)') ','
  write(10, '(*(I0,:,","))', advance='no') d
  write(10, '(A)') ','
  close(10)
  ! One offspring column (both sexes monogamous) and both parent columns; a three-digit
  ! exponent drops the letter.
  open(10, file='copy_one_column.txt', status='replace')
  write(10, '(ES30.20)') -1.0d300
  write(10, '(*(I0,:,","))', advance='no') a
  write(10, '(A)') ','
  write(10, '(*(I0,:,","))', advance='no') d
  write(10, '(A)') ','
  write(10, '(*(I0,:,","))', advance='no') e
  write(10, '(A)') ','
  close(10)
end program run_copy
