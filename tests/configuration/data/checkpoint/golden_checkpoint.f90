! Writes the expected checkpoint files of the 12-offspring fixture of the checkpoint tests,
! record by record as the file layout prescribes, with the compiler's own edit formats.
! Run: gfortran golden_checkpoint.f90 -o g && ./g   (writes fixture.MidResult2/3/5 here)
program golden_checkpoint
  implicit none
  integer, parameter :: n = 12
  integer :: loc(n, 3), par(n, 2), btloc(n, 3), btpar(n, 2), w(n, 2)
  integer :: a2loc(n, 3), a2par(n, 2)
  integer :: i, k, idumiv(32)
  integer(8) :: numiterate, nsucc, newbest, nfail1, nfail2, itr
  character(len=2000) :: r
  real(8) :: fre1(2), fre2(3)
  loc(:, 1) = (/1, 1, 1, 2, 2, 3, 4, 4, 5, 6, 6, 7/)
  loc(:, 2) = (/1, 1, 2, 3, 3, 4, 5, 5, 6, 7, 7, 8/)
  loc(:, 3) = (/1, 1, 1, 2, 2, 3, 4, 4, 5, 6, 6, 7/)
  par(:, 1) = (/2, 2, 2, 0, 0, 0, 0, 0, 0, 1, 1, 0/)
  par(:, 2) = (/0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 10/)
  btloc = loc
  btloc(4, 1) = 1; btloc(4, 2) = 2; btloc(4, 3) = 1
  btloc(5, 1) = 2; btloc(5, 2) = 3; btloc(5, 3) = 2
  btpar = 0
  btpar(1:3, 1) = 2
  a2loc = loc
  a2par = par
  do i = 1, n
    w(i, 1) = 1000 + i
    w(i, 2) = 1000 + 2 * i
  end do
  do k = 1, 32
    idumiv(k) = 1001 * k
  end do
  numiterate = 5000000000_8; nsucc = 17; newbest = 4; nfail1 = 250
  nfail2 = 1234567890123_8; itr = 42
  fre1 = (/0.25d0, 0.75d0/)
  fre2 = (/0.5d0, 0.3d0, 0.2d0/)

  open(10, file='fixture.MidResult2', status='replace')
  write(10, *) n
  do k = 1, 3
    write(10, '(100I3)') loc(:, k)
  end do
  do k = 1, 2
    write(10, '(100I3)') par(:, k)
  end do
  write(10, *)
  do k = 1, 3
    write(10, '(100I3)') btloc(:, k)
  end do
  do k = 1, 2
    write(10, '(100I3)') btpar(:, k)
  end do
  r = trim(rtoc(-123.456d0, '(ES28.18)')) // ',' // trim(rtoc(-120.25d0, '(ES28.18)')) // ','
  r = trim(r) // trim(rtoc(12.5d0, '(ES20.10)')) // ',' // trim(rtoc(0.75d0, '(ES20.10)')) // ','
  r = trim(r) // trim(itoc(2)) // ',' // trim(i8toc(numiterate)) // ',' // trim(itoc(3)) // ','
  r = trim(r) // trim(i8toc(nsucc)) // ',' // trim(i8toc(newbest)) // ','
  r = trim(r) // trim(i8toc(nfail1)) // ',' // trim(i8toc(nfail2)) // ','
  r = trim(r) // trim(i8toc(itr)) // ',' // trim(itoc(7)) // ',' // trim(rtoc(0.92d0, '(F10.6)')) // ','
  r = trim(r) // trim(itoc(-1234)) // ',' // trim(itoc(987654321)) // ','
  do k = 1, 32
    r = trim(r) // trim(itoc(idumiv(k))) // ','
  end do
  r = trim(r) // trim(itoc(55555))
  write(10, '(/A)') trim(r)
  r = '1,2,3,64,128,' // trim(rtoc(0.5d0, '(ES18.10)'))
  write(10, '(99A)') trim(r), ',', '20261210', ',', '065512.345', ',', trim(rtoc(1.75d0, '(ES20.10)'))
  write(10, '(3ES16.8)') fre1
  write(10, '(3ES16.8)') fre2
  write(10, '(ES18.10)') 0.0625d0
  write(10, *) 9
  write(10, '(A)') '11,5'
  r = ''
  do i = 1, n
    r = trim(r) // trim(itoc(w(i, 1))) // ',' // trim(itoc(w(i, 2))) // ','
    if (mod(i, 10) == 0 .or. i == n) then
      write(10, '(A)') trim(r)
      r = ''
    end if
  end do
  write(10, '(ES20.12)') 3.0d0, 0.015625d0
  close(10)

  ! The archive: the best configuration, then the current one.
  open(10, file='fixture.MidResult3', status='replace')
  write(10, '(ES30.20)') -120.25d0
  do k = 1, 3
    call intvector(btloc(:, k))
  end do
  call intvector(btpar(:, 1))
  call intvector(btpar(:, 2))
  write(10, '(ES30.20)') -123.456d0
  do k = 1, 3
    call intvector(a2loc(:, k))
  end do
  call intvector(a2par(:, 1))
  call intvector(a2par(:, 2))
  close(10)

  open(10, file='fixture.MidResult5', status='replace')
  write(10, '(3ES30.20)') 10.0d0, 40.0d0, 3.5d0
  write(10, '(2ES30.20)') 1.0d0, 2.0d0, 3.0d0, 4.0d0
  write(10, '(I3, 2ES30.20)') 2, 0.5d0, 0.125d0
  close(10)

contains

  function itoc(i) result(s)
    integer, intent(in) :: i
    character(len=20) :: s
    write(s, '(I12)') i
    s = adjustl(s)
  end function

  function i8toc(i) result(s)
    integer(8), intent(in) :: i
    character(len=20) :: s
    write(s, '(I20)') i
    s = adjustl(s)
  end function

  function rtoc(x, f) result(s)
    real(8), intent(in) :: x
    character(len=*), intent(in) :: f
    character(len=28) :: s
    write(s, f) x
    s = adjustl(s)
  end function

  subroutine intvector(col)
    integer, intent(in) :: col(:)
    character(len=1000) :: line
    integer :: j, m
    line = ''
    m = 0
    do j = 1, size(col)
      line(m + 1:) = trim(itoc(col(j))) // ','
      m = len_trim(line)
      if (m >= 992 .or. j == size(col)) then
        write(10, '(A)') line(1:m)
        line = ''
        m = 0
      end if
    end do
  end subroutine

end program
