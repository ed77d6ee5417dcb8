! Generator of the expected ".Inbreeding" files (inbreeding_*.txt) for the tests of the
! inbreeding step: each file is written with the statements and edit formats of the step, by
! gfortran, for fixed values. Run: gfortran inbreeding_lines.f90 && ./a.out
program inbreeding_lines
  implicit none
  real(8) :: x(3), f, s
  ! Two sexes.
  open (10, file='inbreeding_two_sexes.txt')
  write (10, '(2A20/A20,F20.4)') 'Parameter', 'ML-Est', 'Inbreeding', 0.0625d0
  close (10)
  open (10, file='inbreeding_two_sexes_negative.txt')
  write (10, '(2A20/A20,F20.4)') 'Parameter', 'ML-Est', 'Inbreeding', -0.123456d0
  close (10)
  ! One sex: selfing rate 0 everywhere, F = 0, no usable locus for ID.
  x = 0d0
  f = 0d0
  call onesex('inbreeding_self0.txt', x, f, -1d0)
  ! Selfing rate 1 everywhere.
  x = 1d0
  call onesex('inbreeding_self1.txt', x, f, -1d0)
  ! A rate with bounds and the ID estimate of the hand-made 6-offspring case.
  x = (/0.3d0, 0.12d0, 0.48d0/)
  s = (32d0 - sqrt(880d0)) / 6d0
  call onesex('inbreeding_estimates.txt', x, f, s)
  ! No family-based estimate: -1 in all six fields.
  open (10, file='inbreeding_unset.txt')
  write (10, '(5A20/2A20,3F20.4)') 'Method', 'Parameter', 'Est', 'CI95-L', 'CI95-U', &
    'FL_PLS', 'Inbreeding', -1d0, -1d0, -1d0
  write (10, '(2A20, 3F20.4)') 'FL_PLS', 'Selfing', -1d0, -1d0, -1d0
  write (10, '(2A20, F20.4)') 'Fis(DHW)', 'Inbreeding', 0d0
  write (10, '(2A20, F20.4)') 'Fis(DHW)', 'Selfing', 0d0
  write (10, '(2A20, F20.4)') 'ID', 'Selfing', 0d0
  close (10)
contains
  subroutine onesex(name, x, f, s)
    character(*), intent(in) :: name
    real(8), intent(in) :: x(3), f, s
    open (10, file=name)
    write (10, '(5A20/2A20,3F20.4)') 'Method', 'Parameter', 'Est', 'CI95-L', 'CI95-U', &
      'FL_PLS', 'Inbreeding', x / (2d0 - x)
    write (10, '(2A20, 3F20.4)') 'FL_PLS', 'Selfing', x
    write (10, '(2A20, F20.4)') 'Fis(DHW)', 'Inbreeding', f
    if (f > 0d0) then
      write (10, '(2A20, F20.4)') 'Fis(DHW)', 'Selfing', 2d0 * f / (f + 1d0)
    else
      write (10, '(2A20, F20.4)') 'Fis(DHW)', 'Selfing', 0d0
    end if
    if (s < -0.5d0) then
      write (10, '(2A20, F20.4, A)') 'ID', 'Selfing', -1.0, '  (No estimate because of no useful loci)'
    else
      write (10, '(2A20, F20.4)') 'ID', 'Selfing', s
    end if
    close (10)
  end subroutine
end program
