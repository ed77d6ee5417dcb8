! Bit patterns of 0.1d0**(2*p) for p = 1 to 8 as gfortran evaluates a real(8) raised to an
! integer variable; the initialisation tests compare the precision thresholds with them.
! Build and run: gfortran real_integer_power.f90 -o rip && ./rip
program real_integer_power
  implicit none
  integer :: p
  real(8) :: x
  do p = 1, 8
    x = 0.1d0**(2*p)
    write(*, '(I3, 1X, ES25.17, 1X, Z16.16)') p, x, x
  end do
end program real_integer_power
