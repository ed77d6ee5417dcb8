! Reference lines for ".ErrorRate": values written with (F8.4), left-adjusted and trimmed, and
! a row written as the file writes it: "(99A)" without record end, then "(A)".
program error_rate_rows
  implicit none
  real(8) :: x(16)
  character(20) :: marker
  integer :: i
  x = (/ 0.0d0, 1.0d-9, 4.9999d-5, 5.0d-5, 1.5d-4, 2.5d-4, 0.05d0, 0.0123456d0, &
         0.99995d0, 0.999949d0, 1.0d0, 0.5d0, 0.12345d0, 0.03125d0, 1.0d-8, 0.28760d0 /)
  open(10, file='error_rate_f84.txt', status='replace')
  do i = 1, 16
    write(10, '(ES25.17E3,A,A)') x(i), char(9), rtoc(x(i))
  end do
  close(10)
  marker = adjustr('Mk2')
  open(10, file='error_rate_row.txt', status='replace')
  write(10, '(99A)', advance='no') trim(adjustl(marker)), ',', rtoc(5.0d-7), ',', rtoc(5.0d-7), &
       ',', rtoc(5.0d-7), ',', rtoc(5.0d-7), ',', rtoc(0.0d0), ',', rtoc(0.0d0), ',', rtoc(0.0d0), ','
  write(10, '(A)') rtoc(0.0d0)
  close(10)
contains
  function rtoc(v) result(s)
    real(8), intent(in) :: v
    character(:), allocatable :: s
    character(30) :: c
    write(c, '(F8.4)') v
    s = trim(adjustl(c))
  end function
end program
