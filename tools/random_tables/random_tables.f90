! Independent reference tables for the random-number tests, written from the generators'
! definitions (not from the C++ code). Build and run once from the repository root:
!   gfortran -O0 -o /tmp/random_tables tools/random_tables/random_tables.f90
!   /tmp/random_tables tests/core/data
! Reals are written as their bit patterns (integers) so the tables are exact.
module streams
  implicit none
  integer, parameter :: dp = kind(1d0)
  ! search stream
  integer :: idum3, idum2, iv(32), iy2
  ! simulation stream
  integer :: idum, ix1, iy1
  real :: am1
  logical :: gset_flag
  real :: gset
  real :: oldm, g, sq, alxm
  integer :: bitseed
contains
  ! 32-bit two's-complement wrap of a 64-bit value
  integer function wrap(v)
    integer(8), intent(in) :: v
    integer(8) :: w
    w = modulo(v, 4294967296_8)
    if (w >= 2147483648_8) w = w - 4294967296_8
    wrap = int(w)
  end function

  subroutine reset_sim()
    iy1 = -1; ix1 = 0; am1 = 0
    gset_flag = .false.; gset = 0
    oldm = -1.0; g = 0; sq = 0; alxm = 0
    bitseed = 234533
  end subroutine

  real(dp) function ran2()
    integer, parameter :: im1 = 2147483563, im2 = 2147483399, ia1 = 40014, ia2 = 40692
    integer, parameter :: iq1 = 53668, iq2 = 52774, ir1 = 12211, ir2 = 3791, ntab = 32
    integer, parameter :: ndiv = 1 + (im1 - 1) / ntab
    real(dp), parameter :: am = 1d0 / im1, rnmx = 1d0 - 1.2d-7
    integer :: j, k
    if (idum3 <= 0) then
      idum3 = max(wrap(-int(idum3, 8)), 1)
      idum2 = idum3
      do j = ntab + 8, 1, -1
        k = idum3 / iq1
        idum3 = ia1 * (idum3 - k * iq1) - k * ir1
        if (idum3 < 0) idum3 = idum3 + im1
        if (j <= ntab) iv(j) = idum3
      end do
      iy2 = iv(1)
    end if
    k = idum3 / iq1
    idum3 = ia1 * (idum3 - k * iq1) - k * ir1
    if (idum3 < 0) idum3 = idum3 + im1
    k = idum2 / iq2
    idum2 = ia2 * (idum2 - k * iq2) - k * ir2
    if (idum2 < 0) idum2 = idum2 + im2
    j = iy2 / ndiv + 1
    iy2 = iv(j) - idum2
    iv(j) = idum3
    if (iy2 < 1) iy2 = iy2 + im1 - 1
    ran2 = min(am * iy2, rnmx)
  end function

  real function ran1()
    integer, parameter :: ia = 16807, im = 2147483647, iq = 127773, ir = 2836
    integer :: k, a
    if (idum <= 0 .or. iy1 < 0) then
      am1 = nearest(1.0, -1.0) / im
      a = wrap(abs(int(idum, 8)))
      iy1 = ior(ieor(888889999, a), 1)
      ix1 = ieor(777755555, a)
      idum = wrap(int(a, 8) + 1)
    end if
    ix1 = ieor(ix1, ishft(ix1, 13))
    ix1 = ieor(ix1, ishft(ix1, -17))
    ix1 = ieor(ix1, ishft(ix1, 5))
    k = iy1 / iq
    iy1 = ia * (iy1 - k * iq) - ir * k
    if (iy1 < 0) iy1 = iy1 + im
    ran1 = am1 * ior(iand(ieor(ix1, iy1), im), 1)
  end function

  real function gasdev()
    real :: p, q, rsq, fac
    if (gset_flag) then
      gset_flag = .false.
      gasdev = gset
      return
    end if
    do
      p = 2.0 * ran1() - 1.0
      q = 2.0 * ran1() - 1.0
      rsq = p**2 + q**2
      if (rsq >= 1e-10 .and. rsq < 1.0) exit
    end do
    fac = sqrt(-2.0 * log(rsq) / rsq)
    gset = p * fac
    gset_flag = .true.
    gasdev = q * fac
  end function

  real(dp) function gammln(x)
    real(dp), intent(in) :: x
    real(dp) :: tmp, ser
    real(dp), parameter :: c(6) = [76.18009172947146d0, -86.50532032941677d0, &
         24.01409824083091d0, -1.231739572450155d0, 0.1208650973866179d-2, -0.5395239384953d-5]
    integer :: j
    tmp = x + 5.5d0
    tmp = (x + 0.5d0) * log(tmp) - tmp
    ser = 1.000000000190015d0
    do j = 1, 6
      ser = ser + c(j) / (x + j)
    end do
    gammln = tmp + log(2.5066282746310005d0 * ser / x)
  end function

  real function poidev(xm)
    real, intent(in) :: xm
    real, parameter :: pi = 3.1415927
    real :: em, t, y, x
    if (xm < 12.0) then
      if (abs(xm - oldm) > 1e-6) then
        oldm = xm
        g = exp(-xm)
      end if
      em = -1
      t = 1.0
      do
        em = em + 1.0
        t = t * ran1()
        if (.not. (t > g)) exit
      end do
    else
      if (abs(xm - oldm) > 1e-6) then
        oldm = xm
        sq = sqrt(2.0 * xm)
        alxm = log(xm)
        g = xm * alxm - gammln(real(xm, dp) + 1d0)
      end if
      do
        y = tan(pi * ran1())
        em = sq * y + xm
        if (em < 0.0) cycle
        em = aint(em)
        x = em * alxm - gammln(real(em, dp) + 1d0) - g
        if (x < -87.0) cycle
        t = 0.9 * (1.0 + y**2) * exp(x)
        if (ran1() <= t) exit
      end do
    end if
    poidev = em
  end function

  integer function irbit1()
    integer :: newbit
    newbit = ieor(ieor(ieor(ibits(bitseed, 17, 1), ibits(bitseed, 4, 1)), &
         ibits(bitseed, 1, 1)), ibits(bitseed, 0, 1))
    bitseed = ior(ishft(bitseed, 1), newbit)
    irbit1 = newbit
  end function

  integer(8) function dbits(x)
    real(dp), intent(in) :: x
    dbits = transfer(x, 0_8)
  end function
  integer function fbits(x)
    real, intent(in) :: x
    fbits = transfer(x, 0)
  end function
end module

program random_tables
  use streams
  implicit none
  character(len=512) :: dir
  integer :: s, i, u
  integer, parameter :: nseed2 = 5
  integer :: seeds2(nseed2) = [-12345, -1, -7, -2147483647, 0]
  integer, parameter :: nseed1 = 5
  integer :: seeds1(nseed1) = [-12345, -1, -12350, 0, 77]
  real :: means(8) = [0.5, 0.5, 3.25, 11.5, 12.0, 12.0, 40.0, 250.0]
  real(dp) :: gx(9) = [0.5d0, 1d0, 1.5d0, 2d0, 3.7d0, 10d0, 12.5d0, 100d0, 171.3d0]
  integer(8) :: minint8

  call get_command_argument(1, dir)

  ! ran2: seed, then 60 draws as bit patterns, then the final state
  open (newunit=u, file=trim(dir)//'/random_ran2.txt', status='replace')
  write (u, '(A)') '# ran2: per block "seed s", 60 draws (bits of the real(8)), then the state'
  write (u, '(A)') '# idum3 idum2 idumiy and idumiv(1..32)'
  minint8 = -2147483648_8
  do s = 1, nseed2 + 1
    if (s <= nseed2) then
      idum3 = seeds2(s)
    else
      idum3 = int(minint8)
    end if
    idum2 = 123456789; iv = 0; iy2 = 0
    write (u, '(A,I12)') 'seed', idum3
    do i = 1, 60
      write (u, '(I21)') dbits(ran2())
    end do
    write (u, '(3I12)') idum3, idum2, iy2
    write (u, '(8I12)') iv
  end do
  close (u)

  ! ran1: seed, then 60 draws
  open (newunit=u, file=trim(dir)//'/random_ran1.txt', status='replace')
  write (u, '(A)') '# ran1: per block "seed s", 60 draws (bits of the real(4)), then idum'
  do s = 1, nseed1 + 1
    call reset_sim()
    if (s <= nseed1) then
      idum = seeds1(s)
    else
      idum = int(minint8)
    end if
    write (u, '(A,I12)') 'seed', idum
    do i = 1, 60
      write (u, '(I12)') fbits(ran1())
    end do
    write (u, '(I12)') idum
  end do
  close (u)

  ! gasdev: from seed -12345, 40 deviates
  open (newunit=u, file=trim(dir)//'/random_gasdev.txt', status='replace')
  write (u, '(A)') '# gasdev from idum = -12345 and fresh states: 40 deviates (bits of the real(4))'
  call reset_sim()
  idum = -12345
  do i = 1, 40
    write (u, '(I12)') fbits(gasdev())
  end do
  close (u)

  ! poidev: from seed -4711, for each mean in turn 25 deviates, the cache carried over
  open (newunit=u, file=trim(dir)//'/random_poidev.txt', status='replace')
  write (u, '(A)') '# poidev from idum = -4711 and fresh states; per block "mean m" (bits of the'
  write (u, '(A)') '# real(4) mean), 25 deviates; the states carry over from block to block;'
  write (u, '(A)') '# at the end the bits of one ran1 draw'
  call reset_sim()
  idum = -4711
  do s = 1, size(means)
    write (u, '(A,I12)') 'mean', fbits(means(s))
    do i = 1, 25
      write (u, '(I12)') nint(poidev(means(s)))
    end do
  end do
  write (u, '(I12)') fbits(ran1())
  close (u)

  ! irbit1 and gammln
  open (newunit=u, file=trim(dir)//'/random_irbit1.txt', status='replace')
  write (u, '(A)') '# irbit1 from the seed 234533: 200 bits, then the seed'
  call reset_sim()
  write (u, '(50I1)') (irbit1(), i = 1, 200)
  write (u, '(I12)') bitseed
  close (u)

  open (newunit=u, file=trim(dir)//'/random_gammln.txt', status='replace')
  write (u, '(A)') '# gammln: bits of x (real(8)) and of gammln(x)'
  do i = 1, size(gx)
    write (u, '(2I21)') dbits(gx(i)), dbits(gammln(gx(i)))
  end do
  close (u)
end program
