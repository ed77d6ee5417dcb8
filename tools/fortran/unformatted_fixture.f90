! Writes the unformatted sequential fixtures read back (and rewritten byte for byte) by
! tests/core/test_unformatted_file.cpp.
!
!   gfortran unformatted_fixture.f90 -o fixture && ./fixture unformatted_gfortran.bin
!   gfortran -fmax-subrecord-length=16 unformatted_fixture.f90 -o fixture16 &&
!     ./fixture16 unformatted_subrecords.bin
!
! The second build splits every record longer than 16 bytes into subrecords, as records of
! more than 2147483639 bytes are split in the default build.
program unformatted_fixture
  use, intrinsic :: iso_fortran_env, only: int8, int16, int32, int64, real32, real64
  implicit none
  character(len=400) :: path
  integer :: u, k
  real(real64) :: five(5)
  real(real32) :: row(3)
  integer(int32) :: ten(10), four(4), eight(8)
  character(len=5) :: label

  call get_command_argument(1, path)
  five = [(0.1_real64 * k, k = 1, 5)]
  row = [1.5_real32, -0.25_real32, 3.0e10_real32]
  ten = [(k * k, k = 1, 10)]
  four = [1, -2, 3, -4]
  eight = [(100 + k, k = 1, 8)]
  label = 'ab'
  open (newunit=u, file=trim(path), form='unformatted', access='sequential', &
        status='replace', action='write')
  write (u) 7_int32, 1.5_real64, -2.25_real64
  write (u) five
  write (u) label, -3_int8, 1000_int16, -5000000000_int64, row
  write (u)
  write (u) ten
  write (u) four
  write (u) eight
  close (u)
end program unformatted_fixture
