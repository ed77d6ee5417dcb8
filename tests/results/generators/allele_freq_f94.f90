! Reference values for ".AlleleFreq": frequencies written with (F9.4), left-adjusted and
! trimmed, as the allele-frequency lines show them.
program allele_freq_f94
  implicit none
  real(8) :: x(14)
  integer :: i
  x = (/ 0.0d0, 1.0d0, 0.5d0, 0.25d0, 4.9999d-5, 5.0d-5, 1.5d-4, 2.5d-4, 0.12345d0, &
         0.99995d0, 0.999949d0, 0.45678d0, 0.7d0, 1.0d0/3.0d0 /)
  open(10, file='allele_freq_f94.txt', status='replace')
  do i = 1, 14
    write(10, '(ES25.17E3,A,A)') x(i), char(9), rtoc(x(i))
  end do
  close(10)
contains
  function rtoc(v) result(s)
    real(8), intent(in) :: v
    character(:), allocatable :: s
    character(30) :: c
    write(c, '(F9.4)') v
    s = trim(adjustl(c))
  end function
end program
