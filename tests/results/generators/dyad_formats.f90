! Expected lines of the dyad files' edit formats, written by gfortran 12; the tests of the dyad
! steps hold them as fixed tables. Run outside the build: gfortran dyad_formats.f90 && ./a.out
program f
  implicit none
  real(8) :: x(8) = (/ 0.5d0, 0.001d0, 0.0015d0, 1.0d0, 0.9995d0, 0.12345d0, 0.0625d0, 0.99949d0 /)
  real(8) :: y(6) = (/ 1.0d0, 0.99995d0, 0.001d0, 0.123456d0, 0.5d0, 0.00015d0 /)
  integer :: k
  character(40) :: s
  do k = 1, 8
    write(*, '(4A, F6.3)') 'O1', ',', 'O2', ',', x(k)
  end do
  do k = 1, 6
    write(s, '(F7.4)') y(k)
    write(*, '(A)') '[' // trim(adjustl(s)) // ']'
  end do
  write(*, '(6A, F6.3)') 'a', ',', 'b', ',', 'PaternalSib', ',', 0.25d0
end program
