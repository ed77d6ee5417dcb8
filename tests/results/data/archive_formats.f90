! Expected lines of the archive summary files' edit formats, written by gfortran.
! Build and run outside the project build: gfortran archive_formats.f90 && ./a.out > archive_formats.txt
program archive_formats
  implicit none
  character(200) :: t
  real(8) :: d(8)
  real(4) :: f(8)
  integer :: k
  d = (/ -1234.5678901d0, -10.693147180559945d0, -1.5d-300, -5.0d0, 1.0d200, &
         -6.386294361119891d0, -2.5d-5, 0.0d0 /)
  do k = 1, 8
    write(t, '(ES20.10)') d(k)
    write(*, '(A,ES24.16E3,A,A,A)') 'ES20.10|', d(k), '|', trim(adjustl(t)), '|'
  end do
  d = (/ 0.5714285714285714d0, 0.03125d0, 0.00005d0, 0.01d0, 1.0d0, 0.15625d0, 0.99995d0, 0.0d0 /)
  do k = 1, 8
    write(*, '(A,ES24.16E3,A)', advance='no') 'F7.4|', d(k), '|'
    write(*, '(A, F7.4)', advance='no') 'O1,D2,#,', d(k)
    write(*, '(A)') '|'
  end do
  d = (/ 0.5714285714285714d0, 0.0625d0, 0.0005d0, 0.0015d0, 1.0d0, 0.0d0, 0.9995d0, 0.142857d0 /)
  do k = 1, 8
    write(*, '(A,ES24.16E3,A)', advance='no') 'F6.3|', d(k), '|'
    write(*, '(2A, F6.3)', advance='no') 'O12', ',', d(k)
    write(*, '(A)') '|'
  end do
  f = (/ 0.03125, 0.19047619, 0.00005, 1.0, 0.4761905, 0.15625, 0.0, 12345.67 /)
  do k = 1, 8
    write(*, '(A,I0,A)', advance='no') 'I6F21.4|', k, '|'
    write(*, '(ES16.8E3,A)', advance='no') f(k), '|'
    write(*, '(I6,7F21.4)', advance='no') k * 111, f(k), f(k), f(k), f(k), f(k), f(k), f(k)
    write(*, '(A)') '|'
  end do
end program archive_formats
