! The allele-frequency checkpoint of the update tests, computed and written independently: the
! re-estimate from the chosen counts (one more count per allele when the total is below 30), the
! blend 0.8 e + 0.15 saved + 0.05 start, one record per locus in the format "(3ES26.17)" (the
! largest number of alleles is 3), then "(I9)" with the round 2 + 1.
! Build and run: gfortran midresult4_golden.f90 -o g && ./g > midresult4_golden.txt
program midresult4_golden
  implicit none
  real(8) :: c(3, 3), s(3, 3), f0(3, 3), e(3), t, f(3)
  integer :: k(3), l, a
  k = (/2, 2, 3/)
  c = 0d0; s = 0d0; f0 = 0d0
  c(1:2, 1) = (/1.0d0 + 0.25d0, 0.5d0 + 0.25d0/)
  c(1:2, 2) = (/2.0d0 + 1.0d0, 1.0d0 + 0.0d0/)
  c(1:3, 3) = (/20.0d0 + 1.0d0, 5.0d0 + 1.0d0, 3.0d0 + 1.0d0/)
  s(1:2, 1) = (/0.3d0, 0.7d0/)
  s(1:2, 2) = (/0.6d0, 0.4d0/)
  s(1:3, 3) = (/0.2d0, 0.3d0, 0.5d0/)
  f0(1:2, 1) = (/0.5d0, 0.5d0/)
  f0(1:2, 2) = (/0.5d0, 0.5d0/)
  f0(1:3, 3) = (/0.4d0, 0.4d0, 0.2d0/)
  do l = 1, 3
    t = 0d0
    do a = 1, k(l)
      t = t + c(a, l)
    end do
    do a = 1, k(l)
      if (t < 30d0) then
        e(a) = (c(a, l) + 1d0) / (t + k(l))
      else
        e(a) = c(a, l) / t
      end if
      f(a) = 0.8d0 * e(a) + 0.15d0 * s(a, l) + 0.05d0 * f0(a, l)
    end do
    write (*, '(3ES26.17)') f(1:k(l))
  end do
  write (*, '(I9)') 2 + 1
end program midresult4_golden
