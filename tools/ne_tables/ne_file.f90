! Independent transcription of the sibship-frequency effective-size estimate and its ".Ne" file,
! written from the definitions with real(4) arithmetic wherever the estimate works in single
! precision, over the generators of tools/random_tables (module streams). Each case gives the
! archive as records of pair counts (S1, S2, E) with their log likelihoods, the sample, the
! non-random alpha and the heterozygote block; the program forms the classes, draws the
! replicates and the sampling intervals, and writes the expected file text.
!
! Output (tests/results/data/ne_files.txt), per case:
!   case NAME
!   <the lines of the .Ne file, as written with the file's own formats>
!   next BITS      (the bit pattern of the ran1 value that follows the estimate)
! Regenerate with tools/ne_tables/ne_file.sh.
module ne_transcription
  use streams
  implicit none
  integer, parameter :: infinite = 2147483647
  integer :: smplsize, numsex, haplodiploid
  real(dp), parameter :: cdf(0:12) = [0.13533528d0, 0.40600585d0, 0.67667642d0, 0.85712346d0, &
       0.94734698d0, 0.98343639d0, 0.99546619d0, 0.99890328d0, 0.99976255d0, 0.99995350d0, &
       0.99999169d0, 0.99999863d0, 1.01d0]
contains
  ! nint into an int4 size, saturating at the infinite value.
  integer function satnint(x)
    real(dp), intent(in) :: x
    if (.not. (x < 2147483647.5d0)) then
      satnint = infinite
    else
      satnint = int(nint(x, 8))
    end if
  end function

  integer function nevalue(s1, s2, alpha, e)
    integer, intent(in) :: s1, s2, e
    real(dp), intent(in) :: alpha
    integer :: n
    real(dp) :: p, s, x, ap, b, t
    if (s1 == 0 .and. s2 == 0) then
      nevalue = infinite
      return
    end if
    n = smplsize - e
    p = n * 0.5d0 * (n - 1)
    if (p <= 0) then
      nevalue = infinite
      return
    end if
    s = real(s1, dp) + real(s2, dp)
    if (numsex == 1) then
      ap = 2d0 * alpha / (alpha + 1d0)
      if (ap <= 0.5d0) then
        x = (alpha + 1d0) * 0.25d0 * s / p
      else
        b = s * 0.25d0 / p
        if (ap <= 0.9d0) then
          t = ap - 0.5d0
          x = (1.05d0 - 2d0 * t + 6d0 * t**2 - 5d0 * t**3 - 15d0 * t**4) * b
        else
          t = ap - 0.9d0
          x = (0.5d0 - t - 35d0 * t**2 + 300d0 * t**3 - 200d0 * t**4) * b
        end if
      end if
    else if (haplodiploid == 1) then
      x = ((3d0 * alpha + 1d0) * s2 + 2d0 * s1) / (9d0 * p)
    else
      x = (3d0 * alpha + 1d0) * 0.25d0 * s / p
    end if
    if (x <= 4.656612875245797d-10) then
      nevalue = infinite
    else
      nevalue = satnint(1d0 / x)
    end if
  end function

  ! Bisection over an ascending table: j with xx(j) <= x < xx(j + 1), 0 below xx(1).
  subroutine locate(xx, n, x, j)
    integer, intent(in) :: n
    real, intent(in) :: xx(n), x
    integer, intent(out) :: j
    integer :: jl, ju, jm
    jl = 0
    ju = n + 1
    do while (ju - jl > 1)
      jm = (ju + jl) / 2
      if (x >= xx(jm)) then
        jl = jm
      else
        ju = jm
      end if
    end do
    if (x == xx(1)) then
      j = 1
    else if (x == xx(n)) then
      j = n - 1
    else
      j = jl
    end if
  end subroutine

  subroutine geneticsampling(ne, sd, ci)
    integer, intent(in) :: ne
    real, intent(in) :: sd
    integer, intent(out) :: ci(2)
    real :: mean, x, u
    real(dp) :: values(1000), tmp
    integer(8) :: t, q, k, n
    integer :: r, i, j
    if (ne > 2147483600) then
      ci = [1, infinite]
      return
    end if
    mean = 0.5 / real(ne)
    do r = 1, 1000
      x = gasdev() * sd + mean
      values(r) = infinite
      if (x > 1e-8) then
        n = nint(0.5 / x, 8)
        t = 0
        q = 0
        do while (t < n)
          u = ran1()
          k = 0
          do while (.not. (cdf(k) > u))
            k = k + 1
          end do
          if (k == 0) cycle
          t = t + k
          q = q + k * (k - 1) / 2
        end do
        if (q > 0) values(r) = 2d0 / ((2d0 / (real(t - 1, dp) * real(t, dp))) * real(q, dp))
      end if
    end do
    do i = 2, 1000
      tmp = values(i)
      j = i - 1
      do while (j >= 1)
        if (values(j) <= tmp) exit
        values(j + 1) = values(j)
        j = j - 1
      end do
      values(j + 1) = tmp
    end do
    ci(1) = satnint(values(25))
    ci(2) = satnint(values(975))
  end subroutine

  ! One case: the records (S1, S2, E, logL) best first; writes the expected file to unit u.
  subroutine run_case(u, name, nrec, s1, s2, e, logl, alpha2, fullq, het, hetci)
    integer, intent(in) :: u, nrec, s1(nrec), s2(nrec), e(nrec), fullq, het, hetci(2)
    character(*), intent(in) :: name
    real(dp), intent(in) :: logl(nrec), alpha2
    integer :: m, k, r, cls, j, q1, q2, ne(2), ci(2, 2), c1(nrec), c2(nrec), ce(nrec)
    real(dp) :: w(nrec), total, cum(nrec), alpha(2), sum(2), square(2), mean, msq
    real :: cumf(nrec), rate, f, sd
    character(100) :: head, title(2)
    character(100) :: dashes
    dashes = repeat('-', 100)
    ! Classes by first appearance.
    m = 0
    do k = 1, nrec
      cls = 0
      do j = 1, m
        if (c1(j) == s1(k) .and. c2(j) == s2(k) .and. ce(j) == e(k)) then
          cls = j
          exit
        end if
      end do
      if (cls == 0) then
        m = m + 1
        c1(m) = s1(k); c2(m) = s2(k); ce(m) = e(k); w(m) = 0
        cls = m
      end if
      w(cls) = w(cls) + exp(logl(k) - logl(1))
    end do
    alpha = [0d0, alpha2]
    ne(1) = nevalue(s1(1), s2(1), alpha(1), e(1))
    ne(2) = nevalue(s1(1), s2(1), alpha(2), e(1))
    total = 0
    do k = 1, m
      total = total + w(k)
    end do
    cum(1) = w(1) * (1d0 / total)
    do k = 2, m - 1
      cum(k) = cum(k - 1) + w(k) * (1d0 / total)
    end do
    cum(m) = 1.0001d0
    cumf(1:m) = real(cum(1:m))
    sum = 0
    square = 0
    do r = 1, 1000
      if (m == 1) then
        cls = 1
      else
        call locate(cumf, m, ran1(), j)
        cls = j + 1
      end if
      q1 = nint(poidev(real(c1(cls))))
      q2 = nint(poidev(real(c2(cls))))
      do k = 1, 2
        rate = 0.5 / real(nevalue(q1, q2, alpha(k), ce(cls)))
        sum(k) = sum(k) + rate
        square(k) = square(k) + rate * rate
      end do
    end do
    f = 0.001
    do k = 1, 2
      mean = sum(k) * f
      msq = square(k) * f
      sd = sqrt(real(abs(msq - mean**2)))
      call geneticsampling(ne(k), sd, ci(:, k))
      if (ci(2, k) < 0) ci(2, k) = infinite
    end do
    if (fullq == 1) then
      head = 'Estimates by Kinrad full likelihood method'
    else
      head = 'Estimates by Kinrad pair-likelihood score method'
    end if
    title(1) = trim(head)//' : Assuming random mating'
    title(2) = trim(head)//' : Assuming nonrandom mating'
    write (u, '(A)') 'case '//name
    do k = 1, 2
      write (u, '(A/A/A)') dashes, trim(title(k)), dashes
      write (u, '(A, F14.2)') 'Alpha   =', alpha(k)
      write (u, '(A, I14)') 'Ne      =', ne(k)
      write (u, '(A, I14)') 'CI95(L) =', ci(1, k)
      write (u, '(A, I14)') 'CI95(U) =', ci(2, k)
    end do
    write (u, '(/A/A/A)') dashes, 'Estimates by heterozygote excess method', dashes
    write (u, '(A, I14)') 'Ne(Het) =', het
    write (u, '(A, I14)') 'CI95(L) =', hetci(1)
    write (u, '(A, I14)') 'CI95(U) =', hetci(2)
    write (u, '(A, I12)') 'next ', fbits(ran1())
  end subroutine

  ! The stream state every case starts from: ran1 seeded with -4711, three deviates drawn.
  subroutine start_streams()
    real :: dummy
    integer :: k
    call reset_sim()
    idum = -4711
    do k = 1, 3
      dummy = gasdev()
    end do
  end subroutine
end module

program ne_file
  use ne_transcription
  implicit none
  integer :: u
  integer, parameter :: inf = infinite
  character(len=256) :: dir
  call get_command_argument(1, dir)
  open (newunit=u, file=trim(dir)//'/ne_files.txt', status='replace', action='write')

  ! Two sexes, 8 diploid offspring, every offspring homozygous: alpha = 1, no heterozygote.
  smplsize = 8; numsex = 2; haplodiploid = 0
  call start_streams()
  call run_case(u, 'one_class', 1, [7], [5], [0], [-100d0], 1d0, 1, inf, [0, inf])
  call start_streams()
  call run_case(u, 'two_classes', 2, [7, 8], [5, 5], [0, 0], [-100d0, -100.5d0], 1d0, 1, inf, [0, inf])
  call start_streams()
  call run_case(u, 'three_records_two_classes', 3, [7, 8, 7], [5, 5, 5], [0, 0, 0], &
       [-100d0, -100.5d0, -101d0], 1d0, 1, inf, [0, inf])
  call start_streams()
  call run_case(u, 'no_sib_pairs', 1, [0], [0], [0], [-100d0], 1d0, 1, inf, [0, inf])
  call start_streams()
  call run_case(u, 'many_infinite_replicates', 1, [1], [0], [0], [-100d0], 1d0, 1, inf, [0, inf])
  call start_streams()
  call run_case(u, 'pair_score_method', 2, [7, 8], [5, 5], [0, 0], [-10d0, -10.05d0], 1d0, 0, inf, &
       [0, inf])
  ! One sex, 6 offspring, homozygous: alpha = 1 (a' = 1, the last polynomial).
  smplsize = 6; numsex = 1; haplodiploid = 0
  call start_streams()
  call run_case(u, 'one_sex', 2, [10, 9], [0, 0], [0, 0], [-50d0, -51d0], 1d0, 1, inf, [0, inf])
  ! Haplodiploid, 6 haploid offspring: no alpha estimate.
  smplsize = 6; numsex = 2; haplodiploid = 1
  call start_streams()
  call run_case(u, 'no_diploid_offspring', 1, [0], [16], [0], [-30d0], 0d0, 1, inf, [0, inf])
  close (u)
end program
