! Generator of the edit-format tables replayed by tests/core/test_format_table.cpp.
!
! Output cases: each case is one WRITE statement to a scratch file, read back byte by byte,
! so trailing blanks, empty records and a record left open by "$" are all seen as written.
! Input cases: each is one internal READ of a single record with IOSTAT.
!
! format_table_write.txt, one case a line, fields separated by tabs:
!   FORMAT  VALUES  [OUTPUT]
! VALUES is a blank-separated list of KIND:VALUE tokens, KIND one of i1 i2 i4 i8 (decimal),
! r4 r8 (9 and 17 significant digits, which give back the exact value), l (T or F), c (text
! with \s for a blank, \\ for a backslash; "c:" alone is an empty text). OUTPUT is the bytes
! of the file between brackets, with \n for each record end and \\ for a backslash.
!
! format_table_read.txt:
!   FORMAT  KINDS  [RECORD]  STATUS  VALUES
! KINDS lists the items (i1 i2 i4 i8 r4 r8, cN for character(N)); RECORD has \t for a tab and
! \\ for a backslash; STATUS is ok, end or error (IOSTAT < 0 or > 0); VALUES holds the items
! after the read, written like the VALUES above.
!
! Regenerate with tools/fortran/format_table.sh (builds and runs this program in a scratch
! directory and copies both tables to tests/core/data/).
module format_table_gen
  use, intrinsic :: iso_fortran_env, only: int8, int16, int32, int64, real32, real64
  use, intrinsic :: ieee_arithmetic
  implicit none
  character(len=*), parameter :: tmpfile = 'format_table.tmp'
  integer :: u = -1, wout = -1, rout = -1
contains

  subroutine wopen()
    open (newunit=u, file=tmpfile, status='replace', action='write', form='formatted')
  end subroutine

  ! Closes the scratch file, reads back what the statement wrote and prints the case.
  subroutine wclose(f, vals)
    character(*), intent(in) :: f, vals
    character(len=:), allocatable :: buf, esc
    integer :: v, n, i
    close (u)
    open (newunit=v, file=tmpfile, access='stream', form='unformatted', action='read')
    inquire (v, size=n)
    allocate (character(len=n) :: buf)
    if (n > 0) read (v) buf
    close (v)
    esc = ''
    do i = 1, n
      select case (buf(i:i))
      case (achar(10))
        esc = esc//'\n'
      case ('\')
        esc = esc//'\\'
      case default
        esc = esc//buf(i:i)
      end select
    end do
    write (wout, '(A)') trim(f)//achar(9)//trim(vals)//achar(9)//'['//esc//']'
  end subroutine

  function r8s(x) result(s)
    real(real64), intent(in) :: x
    character(len=:), allocatable :: s
    character(len=40) :: t
    write (t, '(ES25.16E3)') x
    s = 'r8:'//trim(adjustl(t))
  end function

  function r4s(x) result(s)
    real(real32), intent(in) :: x
    character(len=:), allocatable :: s
    character(len=40) :: t
    write (t, '(ES16.8E2)') x
    s = 'r4:'//trim(adjustl(t))
  end function

  function is(k, n) result(s)
    character(*), intent(in) :: k
    integer(int64), intent(in) :: n
    character(len=:), allocatable :: s
    character(len=40) :: t
    write (t, '(I0)') n
    s = k//':'//trim(t)
  end function

  function cs(x) result(s)
    character(*), intent(in) :: x
    character(len=:), allocatable :: s
    integer :: i
    s = 'c:'
    do i = 1, len(x)
      select case (x(i:i))
      case (' ')
        s = s//'\s'
      case ('\')
        s = s//'\\'
      case default
        s = s//x(i:i)
      end select
    end do
  end function

  function ls(x) result(s)
    logical, intent(in) :: x
    character(len=:), allocatable :: s
    s = 'l:F'
    if (x) s = 'l:T'
  end function

  ! One-item output cases; "*" selects list-directed output.
  subroutine w_r8(f, x)
    character(*), intent(in) :: f
    real(real64), intent(in) :: x
    call wopen()
    if (f == '*') then
      write (u, *) x
    else
      write (u, f) x
    end if
    call wclose(f, r8s(x))
  end subroutine

  subroutine w_r4(f, x)
    character(*), intent(in) :: f
    real(real32), intent(in) :: x
    call wopen()
    if (f == '*') then
      write (u, *) x
    else
      write (u, f) x
    end if
    call wclose(f, r4s(x))
  end subroutine

  subroutine w_i8(f, x)
    character(*), intent(in) :: f
    integer(int64), intent(in) :: x
    call wopen()
    if (f == '*') then
      write (u, *) x
    else
      write (u, f) x
    end if
    call wclose(f, is('i8', x))
  end subroutine

  subroutine w_i4(f, x)
    character(*), intent(in) :: f
    integer(int32), intent(in) :: x
    call wopen()
    if (f == '*') then
      write (u, *) x
    else
      write (u, f) x
    end if
    call wclose(f, is('i4', int(x, int64)))
  end subroutine

  subroutine w_i2(f, x)
    character(*), intent(in) :: f
    integer(int16), intent(in) :: x
    call wopen()
    if (f == '*') then
      write (u, *) x
    else
      write (u, f) x
    end if
    call wclose(f, is('i2', int(x, int64)))
  end subroutine

  subroutine w_i1(f, x)
    character(*), intent(in) :: f
    integer(int8), intent(in) :: x
    call wopen()
    if (f == '*') then
      write (u, *) x
    else
      write (u, f) x
    end if
    call wclose(f, is('i1', int(x, int64)))
  end subroutine

  subroutine w_c(f, x)
    character(*), intent(in) :: f, x
    call wopen()
    if (f == '*') then
      write (u, *) x
    else
      write (u, f) x
    end if
    call wclose(f, cs(x))
  end subroutine

  subroutine w_l(f, x)
    character(*), intent(in) :: f
    logical, intent(in) :: x
    call wopen()
    if (f == '*') then
      write (u, *) x
    else
      write (u, f) x
    end if
    call wclose(f, ls(x))
  end subroutine

  ! Array output cases: the items are the elements in order.
  subroutine w_i4v(f, a)
    character(*), intent(in) :: f
    integer(int32), intent(in) :: a(:)
    character(len=:), allocatable :: vals
    integer :: i
    call wopen()
    if (f == '*') then
      write (u, *) a
    else
      write (u, f) a
    end if
    vals = ''
    do i = 1, size(a)
      vals = vals//' '//is('i4', int(a(i), int64))
    end do
    call wclose(f, adjustl(vals))
  end subroutine

  subroutine w_r8v(f, a)
    character(*), intent(in) :: f
    real(real64), intent(in) :: a(:)
    character(len=:), allocatable :: vals
    integer :: i
    call wopen()
    if (f == '*') then
      write (u, *) a
    else
      write (u, f) a
    end if
    vals = ''
    do i = 1, size(a)
      vals = vals//' '//r8s(a(i))
    end do
    call wclose(f, adjustl(vals))
  end subroutine

  subroutine w_cv(f, a)
    character(*), intent(in) :: f
    character(*), intent(in) :: a(:)
    character(len=:), allocatable :: vals
    integer :: i
    call wopen()
    if (f == '*') then
      write (u, *) a
    else
      write (u, f) a
    end if
    vals = ''
    do i = 1, size(a)
      vals = vals//' '//cs(a(i))
    end do
    call wclose(f, adjustl(vals))
  end subroutine

  ! Rows of the best-configuration files: an index, a probability and three names, or an index
  ! and two probabilities.
  subroutine w_i4r8c3(f, n, x, a, b, c)
    character(*), intent(in) :: f, a, b, c
    integer(int32), intent(in) :: n
    real(real64), intent(in) :: x
    call wopen()
    write (u, f) n, x, a, b, c
    call wclose(f, is('i4', int(n, int64))//' '//r8s(x)//' '//cs(a)//' '//cs(b)//' '//cs(c))
  end subroutine

  subroutine w_i4r8r8(f, n, x, y)
    character(*), intent(in) :: f
    integer(int32), intent(in) :: n
    real(real64), intent(in) :: x, y
    call wopen()
    write (u, f) n, x, y
    call wclose(f, is('i4', int(n, int64))//' '//r8s(x)//' '//r8s(y))
  end subroutine

  ! Input cases.
  subroutine rline(f, kinds, rec, ios, vals)
    character(*), intent(in) :: f, kinds, rec, vals
    integer, intent(in) :: ios
    character(len=5) :: st
    character(len=:), allocatable :: esc
    integer :: i
    esc = ''
    do i = 1, len(rec)
      select case (rec(i:i))
      case (achar(9))
        esc = esc//'\t'
      case ('\')
        esc = esc//'\\'
      case default
        esc = esc//rec(i:i)
      end select
    end do
    st = 'ok'
    if (ios < 0) st = 'end'
    if (ios > 0) st = 'error'
    write (rout, '(A)') trim(f)//achar(9)//kinds//achar(9)//'['//esc//']'//achar(9)// &
      trim(st)//achar(9)//trim(vals)
  end subroutine

  subroutine r_i4(f, rec)
    character(*), intent(in) :: f, rec
    integer(int32) :: n
    integer :: ios
    n = -777
    read (rec, f, iostat=ios) n
    call rline(f, 'i4', rec, ios, is('i4', int(n, int64)))
  end subroutine

  subroutine r_i8(f, rec)
    character(*), intent(in) :: f, rec
    integer(int64) :: n
    integer :: ios
    n = -777
    read (rec, f, iostat=ios) n
    call rline(f, 'i8', rec, ios, is('i8', n))
  end subroutine

  subroutine r_i2(f, rec)
    character(*), intent(in) :: f, rec
    integer(int16) :: n
    integer :: ios
    n = -777
    read (rec, f, iostat=ios) n
    call rline(f, 'i2', rec, ios, is('i2', int(n, int64)))
  end subroutine

  subroutine r_i1(f, rec)
    character(*), intent(in) :: f, rec
    integer(int8) :: n
    integer :: ios
    n = -77
    read (rec, f, iostat=ios) n
    call rline(f, 'i1', rec, ios, is('i1', int(n, int64)))
  end subroutine

  subroutine r_r8(f, rec)
    character(*), intent(in) :: f, rec
    real(real64) :: x
    integer :: ios
    x = -777
    read (rec, f, iostat=ios) x
    call rline(f, 'r8', rec, ios, r8s(x))
  end subroutine

  subroutine r_r4(f, rec)
    character(*), intent(in) :: f, rec
    real(real32) :: x
    integer :: ios
    x = -777
    read (rec, f, iostat=ios) x
    call rline(f, 'r4', rec, ios, r4s(x))
  end subroutine

  subroutine r_c3(f, rec)
    character(*), intent(in) :: f, rec
    character(len=3) :: c
    integer :: ios
    c = '###'
    read (rec, f, iostat=ios) c
    call rline(f, 'c3', rec, ios, cs(c))
  end subroutine

  subroutine r_c5(f, rec)
    character(*), intent(in) :: f, rec
    character(len=5) :: c
    integer :: ios
    c = '#####'
    read (rec, f, iostat=ios) c
    call rline(f, 'c5', rec, ios, cs(c))
  end subroutine

  subroutine r_i4i4(f, rec)
    character(*), intent(in) :: f, rec
    integer(int32) :: a, b
    integer :: ios
    a = -777
    b = -777
    read (rec, f, iostat=ios) a, b
    call rline(f, 'i4 i4', rec, ios, is('i4', int(a, int64))//' '//is('i4', int(b, int64)))
  end subroutine

  subroutine r_c5i4r8(f, rec)
    character(*), intent(in) :: f, rec
    character(len=5) :: c
    integer(int32) :: a
    real(real64) :: x
    integer :: ios
    c = '#####'
    a = -777
    x = -777
    read (rec, f, iostat=ios) c, a, x
    call rline(f, 'c5 i4 r8', rec, ios, cs(c)//' '//is('i4', int(a, int64))//' '//r8s(x))
  end subroutine

end module format_table_gen

program format_table
  use format_table_gen
  implicit none
  real(real64) :: zero, pinf, ninf, qnan, xs(40), ys(6)
  real(real32) :: fs(16)
  integer(int64) :: ns(26)
  character(len=8) :: texts(7)
  character(len=40) :: ffmt(14), efmt(15), ifmt(13), afmt(7)
  character(len=100) :: f
  character(len=:), allocatable :: gui
  character(len=12) :: tok
  character(len=3) :: c3(4)
  integer :: i, j

  open (newunit=wout, file='format_table_write.txt', status='replace', action='write')
  open (newunit=rout, file='format_table_read.txt', status='replace', action='write')

  zero = 0
  pinf = ieee_value(zero, ieee_positive_inf)
  ninf = ieee_value(zero, ieee_negative_inf)
  qnan = ieee_value(zero, ieee_quiet_nan)

  xs = [0d0, sign(0d0, -1d0), 0.5d0, -0.5d0, 1d-3, -1d-3, 4d-2, -4d-2, 0.125d0, 0.375d0, &
        -0.125d0, 2.5d0, 3.5d0, 9.995d0, 9.9951d0, 99.995d0, -99.995d0, 0.96d0, 1d0/3d0, &
        -2d0/3d0, 12d0, 123.456d0, 1234.5678d0, 99999.5d0, 1d10, -1d10, 1d-10, 1d22, 1d300, &
        -1d-300, 4.9406564584124654d-324, huge(1d0), qnan, pinf, ninf, 1.0000000000000002d0, &
        0.1d0, 0.95d0, 0.05d0, 9.996d0]

  ! F editing
  ffmt = [character(len=40) :: '(F3.2)', '(F4.1)', '(F5.2)', '(F6.3)', '(F10.7)', '(F11.4)', &
          '(F16.0)', '(F2.0)', '(F1.0)', '(F3.0)', '(F8.3)', '(F9.3)', '(F20.4)', '(f4.2)']
  do i = 1, size(ffmt)
    do j = 1, size(xs)
      call w_r8(trim(ffmt(i)), xs(j))
    end do
  end do
  call w_r8('(F40.20)', 0.1d0)
  call w_r8('(F40.30)', 1d0/3d0)
  call w_r8('(F30.1)', 1d22)
  call w_r8('(F330.1)', huge(1d0))

  ! E and ES editing
  efmt = [character(len=40) :: '(ES9.2)', '(ES10.3)', '(ES12.5)', '(ES18.10)', '(ES21.12)', &
          '(ES8.2)', '(ES9.0)', '(ES12.3E3)', '(ES12.3E1)', '(E10.4)', '(E9.4)', '(E12.3)', &
          '(E12.3E4)', '(E11.4)', '(es10.3)']
  do i = 1, size(efmt)
    do j = 1, size(xs)
      call w_r8(trim(efmt(i)), xs(j))
    end do
  end do
  call w_r8('(ES25.17)', 0.1d0)
  call w_r8('(ES30.22)', 0.1d0)
  call w_r8('(E12.3)', 9.9996d99)
  call w_r8('(E12.3)', 0.9999d-99)
  call w_r8('(E12.3)', 0.99995d0)
  call w_r8('(ES12.3)', 9.9996d99)
  call w_r8('(ES12.3)', 9.9996d-100)
  call w_r8('(ES10.3E2)', 1d100)
  call w_r8('(E9.2E1)', 1d9)
  call w_r8('(E9.2E1)', 1d10)

  ! real(4) items: the field shows the exact binary value of the single-precision number
  fs = [0.1, -0.1, 1.0/3.0, 0.5, 2.5, 1e7, 1e8, 1e9, 999999936.0, 0.099999994, 1e-20, 1e20, &
        huge(1.0), tiny(1.0), 16777217.0, -0.0]
  fs(16) = sign(0.0, -1.0)
  do j = 1, size(fs)
    call w_r4('(F20.12)', fs(j))
    call w_r4('(ES15.7)', fs(j))
    call w_r4('(F6.3)', fs(j))
    call w_r4('*', fs(j))
  end do
  call w_r4('*', real(qnan, real32))
  call w_r4('*', real(pinf, real32))
  call w_r4('*', real(ninf, real32))

  ! I editing
  ns = [0_int64, 1_int64, -1_int64, 5_int64, -5_int64, 9_int64, 10_int64, -10_int64, 99_int64, &
        -99_int64, 999_int64, -999_int64, 1000_int64, -1000_int64, 9999_int64, 123456_int64, &
        -123456_int64, 99999999_int64, 2147483647_int64, -2147483647_int64 - 1, &
        12345678901234_int64, huge(1_int64), -huge(1_int64) - 1, 100000_int64, 42_int64, &
        -42_int64]
  ifmt = [character(len=40) :: '(I1)', '(I2)', '(I3)', '(I4)', '(I6)', '(I9)', '(I14)', &
          '(I4.2)', '(I4.4)', '(I4.0)', '(I5.3)', '(I20)', '(i6)']
  do i = 1, size(ifmt)
    do j = 1, size(ns)
      call w_i8(trim(ifmt(i)), ns(j))
    end do
  end do
  call w_i8('(I19)', huge(1_int64))
  call w_i8('(I19)', -huge(1_int64))
  call w_i8('(I20.20)', -huge(1_int64) - 1)
  call w_i8('(I1.0)', 0_int64)
  call w_i8('(I1.1)', 0_int64)
  call w_i4('(I11)', -2147483647 - 1)
  call w_i4('(I10)', -2147483647 - 1)
  call w_i2('(I6)', -32767_int16 - 1_int16)
  call w_i2('(I5)', -32767_int16 - 1_int16)
  call w_i1('(I4)', -127_int8 - 1_int8)
  call w_i1('(I3)', 127_int8)
  call w_i1('(I2)', -8_int8)

  ! A and L editing
  texts = [character(len=8) :: '', 'a', 'abc', 'abcdef', ' lead', 'trail  ', 'a\b"''c']
  afmt = [character(len=40) :: '(A)', '(A1)', '(A3)', '(A8)', '(A14)', '(A20)', '(a5)']
  do i = 1, size(afmt)
    do j = 1, size(texts)
      call w_c(trim(afmt(i)), trim(texts(j)))
    end do
  end do
  call w_c('(A)', 'trail  ')
  call w_c('(A9)', 'trail  ')
  call w_c('(A3)', '')
  call w_l('(L1)', .true.)
  call w_l('(L1)', .false.)
  call w_l('(L3)', .true.)
  call w_l('(l2)', .false.)

  ! List-directed output
  do j = 1, size(xs)
    call w_r8('*', xs(j))
  end do
  call w_r8('*', 1d15)
  call w_r8('*', 1d16)
  call w_r8('*', 1d17)
  call w_r8('*', 99999999999999984d0)
  call w_r8('*', 0.09999999999999999d0)
  call w_r8('*', 123456789d0)
  call w_r8('*', tiny(1d0))
  do j = 1, size(ns)
    call w_i8('*', ns(j))
    call w_i4('*', int(max(min(ns(j), 2147483647_int64), -2147483647_int64 - 1), int32))
  end do
  call w_i2('*', 1_int16)
  call w_i2('*', -32767_int16 - 1_int16)
  call w_i1('*', 1_int8)
  call w_i1('*', -127_int8 - 1_int8)
  call w_l('*', .true.)
  call w_l('*', .false.)
  call w_c('*', 'abc')
  call w_c('*', ' a b ')
  call w_c('*', '')
  call w_i4v('*', [1, -2, 3])
  call w_r8v('*', [1d0, -2.5d0, 1d-20])
  call w_cv('*', [character(len=3) :: 'a', 'bc', 'def'])
  call wopen(); write (u, *); call wclose('*', '')
  call wopen(); write (u, *) 'a', 1; call wclose('*', 'c:a i4:1')
  call wopen(); write (u, *) 1, 'a'; call wclose('*', 'i4:1 c:a')
  call wopen(); write (u, *) 'a', 1.0; call wclose('*', 'c:a r4:1')
  call wopen(); write (u, *) 1.0, 'a'; call wclose('*', 'r4:1 c:a')
  call wopen(); write (u, *) 1d0, 'x', 2d0; call wclose('*', 'r8:1 c:x r8:2')
  call wopen(); write (u, *) 'a', .true.; call wclose('*', 'c:a l:T')
  call wopen(); write (u, *) .true., 'a', .false.; call wclose('*', 'l:T c:a l:F')
  call wopen(); write (u, *) 1_int8, 2_int16, 3, 4_int64; call wclose('*', 'i1:1 i2:2 i4:3 i8:4')
  call wopen(); write (u, *) '', 'a'; call wclose('*', 'c: c:a')
  call wopen(); write (u, *) 'Sample size:', 120, ' loci:', 15
  call wclose('*', 'c:Sample\ssize: i4:120 c:\sloci: i4:15')
  call wopen(); write (u, *) 2.5, 2.5d0, -1.0; call wclose('*', 'r4:2.5 r8:2.5 r4:-1')

  ! Format programs: repeat counts, groups, reversion, literals, slashes, "$", ":"
  call w_c('(A, '' x'')', 'a')
  call w_c('(A, " x")', 'a')
  call w_c('(''h'', A, '' t'')', 'a')
  call w_cv('(''h'', A, '' t'')', [character(len=1) :: 'a', 'b', 'c'])
  call w_cv('(''h'', A, :, '' t'')', [character(len=1) :: 'a', 'b', 'c'])
  call w_cv('(A, :, '' t'')', [character(len=1) :: 'a'])
  call w_c('(A,''it''''s'',"say ""hi""")', 'a')
  call w_c('(A,''"'',"''")', 'a')
  call w_c('(/A)', 'a')
  call w_c('(A/)', 'a')
  call w_c('(2/A)', 'a')
  call w_c('(A,2/)', 'a')
  call w_c('(A//A)', 'a')
  call w_cv('(/2A)', [character(len=1) :: 'a', 'b', 'c'])
  call w_cv('(2A)', [character(len=1) :: 'a', 'b', 'c', 'd', 'e'])
  call w_c('(A,$)', 'a')
  call w_cv('(A,$)', [character(len=1) :: 'a', 'b'])
  call w_c('(A,3X,$)', 'a')
  call w_c('(A,3X)', 'a')
  call w_c('(A,3X,''z'')', 'a')
  call w_c('(3X,A)', 'a')
  call w_c('(A,3X/A)', 'a')
  call w_cv('(A,3X/A)', [character(len=1) :: 'a', 'b'])
  call w_cv('(A,2X,A)', [character(len=1) :: 'a', 'b'])
  call w_c('(A,2X,A)', 'a')
  call w_c('(A,2x,''z'')', 'a')
  call w_c('(A,A)', 'a')
  call w_c('(A,:,A)', 'a')
  call w_c('(99A)', 'a')
  call w_cv('(99A)', [character(len=3) :: 'ab', 'c', 'def'])
  call w_c('(A,I3,$)', 'a')
  call w_i4v('(I2,I3)', [1, 2, 3, 4, 5])
  call w_i4v('(I2,(I3))', [1, 2, 3, 4, 5])
  call w_i4v('(I2,2(I3,I4),I5)', [(i, i=1, 12)])
  call w_i4v('(I2,2(I3,3(I4)))', [(i, i=1, 12)])
  call w_i4v('(I2,2(I3,I4),2(I5))', [(i, i=1, 12)])
  call w_i4v('(''['',2(I2,''|''),'']'')', [1, 2, 3, 4, 5])
  call w_i4v('(2I4, '' x'')', [1])
  call w_i4v('(2I4, '' x'')', [1, 2])
  call w_i4v('(3I4)', [1, 2, 3, 4, 5, 6, 7])
  call w_i4v('(I6, A1, I6)', [integer :: ])
  call w_i4v('(10I9)', [(i * 1000, i=1, 23)])
  call w_i4v('(I1,2(1X,I1))', [1, 2, 3, 4])
  call w_r8v('(10F10.7)', [(1d0 / i, i=1, 12)])
  call w_r8v('(4Es22.12)', [1d0, -2d0, 3.25d-7])
  call w_r8v('(/5Es22.12)', [(i * 1.5d0, i=1, 7)])
  call w_r8v('(3F20.4)', [1d0, 2d0])
  call w_r8v('(F6.3)', [0.5d0, -0.5d0, 12.3456d0])
  ys = [0.5d0, 1d0, 2d0, 3d0, 4d0, 5d0]
  call w_r8v('(2(F6.2, ''/''), F6.2)', ys)
  call w_cv('(A14, 2A4)', [character(len=3) :: 'a', 'b', 'c'])
  c3 = [character(len=3) :: 'abc', 'de', 'f', '']
  call w_cv('(4A3)', c3)
  call w_cv('(4A)', c3)
  call w_cv('(4A2)', c3)
  call wopen(); write (u, '()'); call wclose('()', '')
  call wopen(); write (u, '(''lit'')'); call wclose('(''lit'')', '')
  call wopen(); write (u, '(''lit'', /, ''two'')'); call wclose('(''lit'', /, ''two'')', '')
  call wopen(); write (u, '(A)'); call wclose('(A)', '')
  call wopen(); write (u, '(3X)'); call wclose('(3X)', '')
  call wopen(); write (u, '(''a'',I3,''b'')'); call wclose('(''a'',I3,''b'')', '')
  call wopen(); write (u, '(/)'); call wclose('(/)', '')
  f = '(2(A, I6))'
  call wopen(); write (u, f) 'a'; call wclose(f, 'c:a')
  call wopen(); write (u, f) 'a', 1; call wclose(f, 'c:a i4:1')
  call wopen(); write (u, f) 'a', 1, 'b'; call wclose(f, 'c:a i4:1 c:b')
  call wopen(); write (u, f) 'a', 1, 'b', 2, 'c'; call wclose(f, 'c:a i4:1 c:b i4:2 c:c')
  f = '(A14, 2I4, I14)'
  call wopen(); write (u, f) 'name', 1, -2, 1234567; call wclose(f, 'c:name i4:1 i4:-2 i4:1234567')
  f = '(A14, 2I4, I14, 2(ES21.12, 10I9))'
  call wopen(); write (u, f) 'x', 1, 2, 3, 0.5d0, (i, i=1, 10), -1d-3, (i * 7, i=1, 10)
  call wclose(f, 'c:x i4:1 i4:2 i4:3 r8:0.5 i4:1 i4:2 i4:3 i4:4 i4:5 i4:6 i4:7 i4:8 i4:9 i4:10 &
    &r8:-1e-3 i4:7 i4:14 i4:21 i4:28 i4:35 i4:42 i4:49 i4:56 i4:63 i4:70')
  call wopen(); write (u, f) 'x', 1, 2, 3, 0.5d0, 4, 5; call wclose(f, 'c:x i4:1 i4:2 i4:3 r8:0.5 i4:4 i4:5')
  f = '(I16,2F11.4,9999A)'
  call wopen(); write (u, f) 17, 0.25d0, -3.5d0, 'ab', 'c', ' d'
  call wclose(f, 'i4:17 r8:0.25 r8:-3.5 c:ab c:c c:\sd')
  f = '(A/A, I1, A)'
  call wopen(); write (u, f) 'first', 'second', 7, 'end'; call wclose(f, 'c:first c:second i4:7 c:end')
  f = '(5A20/2A20,3F20.4)'
  call wopen(); write (u, f) 'a', 'b', 'c', 'd', 'e', 'f', 'g', 1d0, 2d0, 3d0
  call wclose(f, 'c:a c:b c:c c:d c:e c:f c:g r8:1 r8:2 r8:3')
  f = '(I1, A1)'
  call wopen(); write (u, f) 3, 'x'; call wclose(f, 'i4:3 c:x')
  f = '(I6, A1, I6, A1, 9999(I3))'
  call wopen(); write (u, f) 12, ':', 345, ':', 1, 2, 3; call wclose(f, 'i4:12 c:: i4:345 c:: i4:1 i4:2 i4:3')
  f = '(A,ES12.5,3(A,I1,A,I3),A,I3)'
  call wopen(); write (u, f) 'L=', -123.456d0, ' a', 1, '=', 10, ' b', 2, '=', 20, ' c', 3, '=', 30, ' n', 99
  call wclose(f, 'c:L= r8:-123.456 c:\sa i4:1 c:= i4:10 c:\sb i4:2 c:= i4:20 c:\sc i4:3 c:= i4:30 c:\sn i4:99')
  f = '(A, F6.3, A, L2, A)'
  call wopen(); write (u, f) 'p=', 0.25d0, ' flag', .true., '.'; call wclose(f, 'c:p= r8:0.25 c:\sflag l:T c:.')
  f = '( a , 1x , i3 )'
  call wopen(); write (u, f) 'z', 5; call wclose(f, 'c:z i4:5')
  f = '(A/A/A)'
  call wopen(); write (u, f) '----', 'title', '----'; call wclose(f, 'c:---- c:title c:----')
  f = '(/A/A/A)'
  call wopen(); write (u, f) '----', 'title', '----'; call wclose(f, 'c:---- c:title c:----')
  f = '(A, F14.2)'
  call wopen(); write (u, f) 'Alpha   =', 0.35d0; call wclose(f, 'c:Alpha\s\s\s= r8:0.35')
  call wopen(); write (u, f) 'Alpha   =', -1d0; call wclose(f, 'c:Alpha\s\s\s= r8:-1')
  call wopen(); write (u, f) 'Alpha   =', 0d0; call wclose(f, 'c:Alpha\s\s\s= r8:0')
  f = '(A, I14)'
  call wopen(); write (u, f) 'Ne      =', 2147483647
  call wclose(f, 'c:Ne\s\s\s\s\s\s= i4:2147483647')
  call wopen(); write (u, f) 'CI95(L) =', 0; call wclose(f, 'c:CI95(L)\s= i4:0')
  call wopen(); write (u, f) 'CI95(L) =', -2147483647 - 1
  call wclose(f, 'c:CI95(L)\s= i4:-2147483648')

  ! The annealing monitor lines, score formats, date-line pieces and progress log.
  f = '(A,I3,A,I4,A,I15,3(A,I12),A)'
  call wopen(); write (u, f) 'Run=', 1, ', Tmr=', 2, ', Itr=', 10000_int64, ', NSucc=', 0_int64, &
    ', NSuccLmt=', 2188_int64, ', NFail1=', 8999_int64, ', NFail1Lmt=35000.'
  call wclose(f, 'c:Run= i4:1 c:,\sTmr= i4:2 c:,\sItr= i8:10000 c:,\sNSucc= i8:0 &
    &c:,\sNSuccLmt= i8:2188 c:,\sNFail1= i8:8999 c:,\sNFail1Lmt=35000.')
  f = '(A,I12,A,4(A,F8.4))'
  call wopen(); write (u, f) 'NFail2=', 10000_int64, ', NFail2Lmt=175000.', ', SucRate%=', 0d0, &
    ', SucLmt%=', 12.5d0, ', FailLmt%=', 25.7114285714d0, ', IterLmt%=', 2.0569d0
  call wclose(f, 'c:NFail2= i8:10000 c:,\sNFail2Lmt=175000. c:,\sSucRate%= r8:0 c:,\sSucLmt%= r8:12.5 &
    &c:,\sFailLmt%= r8:25.7114285714 c:,\sIterLmt%= r8:2.0569')
  f = '(A,ES8.1,3(A,I1,A,I3),A,I3,A,I4,A,I4,A,I1,A,I1,A,I1,A,I1,A,I1,A,I2,A,I1,A,I2)'
  call wopen(); write (u, f) 'CrLogL=', 0.5d0, ', #F', 1, '=', 58, ', #F', 2, '=', 59, ', #F', 3, '=', 57, &
    ', #FS=', 60, ', HSPair=', 4, ', FSPair=', 0, ', #AssgnC', 1, '=', 0, ', #AssgnC', 2, '=', 3, &
    ', #AssgnP', 1, '=', 0, ', #AssgnP', 2, '=', 12
  call wclose(f, 'c:CrLogL= r8:0.5 c:,\s#F i4:1 c:= i4:58 c:,\s#F i4:2 c:= i4:59 c:,\s#F i4:3 c:= i4:57 &
    &c:,\s#FS= i4:60 c:,\sHSPair= i4:4 c:,\sFSPair= i4:0 c:,\s#AssgnC i4:1 c:= i4:0 c:,\s#AssgnC i4:2 c:= i4:3 &
    &c:,\s#AssgnP i4:1 c:= i4:0 c:,\s#AssgnP i4:2 c:= i4:12')
  f = '(A,ES12.5,3(A,I1,A,I3),A,I3,A,I4,A,I4,A,I1,A,I1,A,I1,A,I1,A,I1,A,I2,A,I1,A,I2)'
  call wopen(); write (u, f) 'BtLogL=', -1234.56d0, ', #F', 1, '=', 58, ', #F', 2, '=', 59, ', #F', 3, '=', 57, &
    ', #FS=', 60, ', HSPair=', 12345, ', FSPair=', 0, ', #AssgnC', 1, '=', 0, ', #AssgnC', 2, '=', 3, &
    ', #AssgnP', 1, '=', 0, ', #AssgnP', 2, '=', 12
  call wclose(f, 'c:BtLogL= r8:-1234.56 c:,\s#F i4:1 c:= i4:58 c:,\s#F i4:2 c:= i4:59 c:,\s#F i4:3 c:= i4:57 &
    &c:,\s#FS= i4:60 c:,\sHSPair= i4:12345 c:,\sFSPair= i4:0 c:,\s#AssgnC i4:1 c:= i4:0 c:,\s#AssgnC i4:2 c:= i4:3 &
    &c:,\s#AssgnP i4:1 c:= i4:0 c:,\s#AssgnP i4:2 c:= i4:12')
  f = '(A,ES18.11,3(A,I1,A,I3),A,I3,A,I4,A,I4,A,I1,A,I1,A,I1,A,I1,A,I1,A,I2,A,I1,A,I2)'
  call wopen(); write (u, f) 'CrLogL=', -1234567890.12d0, ', #F', 1, '=', 58, ', #F', 2, '=', 59, ', #F', 3, &
    '=', 57, ', #FS=', 60, ', HSPair=', 4, ', FSPair=', 0, ', #AssgnC', 1, '=', 0, ', #AssgnC', 2, '=', 3, &
    ', #AssgnP', 1, '=', 0, ', #AssgnP', 2, '=', 12
  call wclose(f, 'c:CrLogL= r8:-1234567890.12 c:,\s#F i4:1 c:= i4:58 c:,\s#F i4:2 c:= i4:59 c:,\s#F i4:3 &
    &c:= i4:57 c:,\s#FS= i4:60 c:,\sHSPair= i4:4 c:,\sFSPair= i4:0 c:,\s#AssgnC i4:1 c:= i4:0 c:,\s#AssgnC i4:2 &
    &c:= i4:3 c:,\s#AssgnP i4:1 c:= i4:0 c:,\s#AssgnP i4:2 c:= i4:12')
  f = '(A,ES24.17,3(A,I1,A,I3),A,I3,A,I4,A,I4,A,I1,A,I1,A,I1,A,I1,A,I1,A,I2,A,I1,A,I2)'
  call wopen(); write (u, f) 'CrLogL=', -1d300, ', #F', 1, '=', 58, ', #F', 2, '=', 59, ', #F', 3, '=', 57, &
    ', #FS=', 60, ', HSPair=', 4, ', FSPair=', 0, ', #AssgnC', 1, '=', 0, ', #AssgnC', 2, '=', 3, &
    ', #AssgnP', 1, '=', 0, ', #AssgnP', 2, '=', 12
  call wclose(f, 'c:CrLogL= r8:-1e300 c:,\s#F i4:1 c:= i4:58 c:,\s#F i4:2 c:= i4:59 c:,\s#F i4:3 c:= i4:57 &
    &c:,\s#FS= i4:60 c:,\sHSPair= i4:4 c:,\sFSPair= i4:0 c:,\s#AssgnC i4:1 c:= i4:0 c:,\s#AssgnC i4:2 c:= i4:3 &
    &c:,\s#AssgnP i4:1 c:= i4:0 c:,\s#AssgnP i4:2 c:= i4:12')
  call w_r8('(F20.2)', -1234.56d0)
  call w_r8('(F20.2)', -1d300)
  call w_r8('(F20.2)', 0.5d0)
  call w_r8('(ES9.2)', 7.62d-5)
  call w_r8('(ES9.2)', 1234.5d0)
  call w_r8('(F16.0)', 35000d0)
  call w_r8('(F16.0)', 1.75d5)
  call w_i4('(I12)', 120)
  f = '(A,A,A,A,A,A,A,A,A,A)'
  call wopen(); write (u, f) 'Initiated:D=', '10', '/', '12', '/', '2026', ' T=', '32', '/', '33'
  call wclose(f, 'c:Initiated:D= c:10 c:/ c:12 c:/ c:2026 c:\sT= c:32 c:/ c:33')
  f = '(A14, 2I4, I14, 2(ES21.12, 10I9))'
  call wopen(); write (u, f) '10/12 00/34/13', 1, 5, 41985_int64, -2459.386428456d0, 58, 59, 57, 60, 4, 0, &
    0, 0, 0, 0, -2459.386428456d0, 58, 59, 57, 60, 1234567890, 0, 0, 0, 0, 0
  call wclose(f, 'c:10/12\s00/34/13 i4:1 i4:5 i8:41985 r8:-2459.386428456 i4:58 i4:59 i4:57 i4:60 i4:4 i4:0 &
    &i4:0 i4:0 i4:0 i4:0 r8:-2459.386428456 i4:58 i4:59 i4:57 i4:60 i4:1234567890 i4:0 i4:0 i4:0 i4:0 i4:0')
  f = '(A14, 2A4, A14, 2(A21, 10A9))'
  call wopen(); write (u, f) 'Stamp', 'Run', 'Tmr', 'NumIterate', 'CrLogL', 'Cr#F1', 'Cr#F2', 'Cr#F3', 'Cr#FS', &
    'CrHSPair', 'CrFSPair', 'Cr#AssC1', 'Cr#AssC2', 'Cr#AssP1', 'Cr#AssP2', 'BtLogL', 'Bt#F1', 'Bt#F2', &
    'Bt#F3', 'Bt#FS', 'BtHSPair', 'BtFSPair', 'Bt#AssC1', 'Bt#AssC2', 'Bt#AssP1', 'Bt#AssP2'
  call wclose(f, 'c:Stamp c:Run c:Tmr c:NumIterate c:CrLogL c:Cr#F1 c:Cr#F2 c:Cr#F3 c:Cr#FS c:CrHSPair &
    &c:CrFSPair c:Cr#AssC1 c:Cr#AssC2 c:Cr#AssP1 c:Cr#AssP2 c:BtLogL c:Bt#F1 c:Bt#F2 c:Bt#F3 c:Bt#FS &
    &c:BtHSPair c:BtFSPair c:Bt#AssC1 c:Bt#AssC2 c:Bt#AssP1 c:Bt#AssP2')
  f = '(I6, A1, I6, A1, 9999(I3))'
  call wopen(); write (u, f) 2, '|', 3, '|', 5, 10, 45; call wclose(f, 'i4:2 c:| i4:3 c:| i4:5 i4:10 i4:45')
  f = '(I6, A1, 9999(I3))'
  call wopen(); write (u, f) 2, '|', (mod(i, 97) + 1, i = 1, 10001)
  gui = 'i4:2 c:|'
  do i = 1, 10001
    write (tok, '(I0)') mod(i, 97) + 1
    gui = gui//' i4:'//trim(tok)
  end do
  call wclose(f, gui)
  f = '(/A)'
  call wopen(); write (u, f) 'Program stoped due to deletion of .data file'
  call wclose(f, 'c:Program\sstoped\sdue\sto\sdeletion\sof\s.data\sfile')
  call w_r8('*', ieee_value(0d0, ieee_quiet_nan))
  call w_r8('*', -1d300)
  call w_r8('*', 2.5d0)
  call w_r8('*', -1234.5678d0)

  ! Input: I editing
  call r_i4('(I12)', '        1234')
  call r_i4('(I12)', '   12 34    ')
  call r_i4('(I12)', '            ')
  call r_i4('(I12)', '')
  call r_i4('(I12)', '12')
  call r_i4('(I5)', ' -12 ')
  call r_i4('(I5)', ' - 12')
  call r_i4('(I5)', ' +12 ')
  call r_i4('(I5)', '  +  ')
  call r_i4('(I5)', '  -  ')
  call r_i4('(I5)', '12a  ')
  call r_i4('(I5)', '1.0  ')
  call r_i4('(I5)', '1e2  ')
  call r_i4('(I5)', '--1  ')
  call r_i4('(I5)', '1-   ')
  call r_i4('(I5)', '1,2  ')
  call r_i4('(I3)', achar(9)//'12')
  call r_i4('(I3)', '12345')
  call r_i4('(I3.2)', ' 12')
  call r_i4('(i3)', ' 12')
  call r_i4('(2X,I3)', 'ab123')
  call r_i4('(I12)', ' 2147483647')
  call r_i4('(I12)', ' 2147483648')
  call r_i4('(I12)', '-2147483648')
  call r_i4('(I12)', '-2147483649')
  call r_i4('(I5)', '00012')
  call r_i8('(I20)', ' 9223372036854775807')
  call r_i8('(I20)', ' 9223372036854775808')
  call r_i8('(I20)', '-9223372036854775808')
  call r_i8('(I25)', '  99999999999999999999999')
  call r_i2('(I6)', ' 32767')
  call r_i2('(I6)', ' 32768')
  call r_i2('(I6)', '-32768')
  call r_i1('(I4)', ' 127')
  call r_i1('(I4)', ' 128')
  call r_i1('(I4)', '-128')
  call r_i1('(I4)', '-129')
  call r_i4i4('(I3,I3)', '  1  2')
  call r_i4i4('(I3,I3)', '12')
  call r_i4i4('(I3,I3)', '1,2   ')
  call r_i4i4('(2I3)', '  1  2  3')
  call r_i4i4('(I3/I3)', '  1  2')
  call r_i4i4('(I3)', '  1  2')
  call r_i4i4('(I3,:,I3)', '  1  2')
  call r_i4i4('(I2,1X,I2)', '1234567')

  ! Input: F, E and ES editing
  call r_r8('(F12.8)', '1')
  call r_r8('(F12.8)', '           1')
  call r_r8('(F12.8)', '1.5')
  call r_r8('(F12.8)', '1.5E3')
  call r_r8('(F12.8)', '1.5D3')
  call r_r8('(F12.8)', '1.5+3')
  call r_r8('(F12.8)', '1.5-3')
  call r_r8('(F12.8)', '15E3')
  call r_r8('(F12.2)', '15E3')
  call r_r8('(F12.2)', '15+3')
  call r_r8('(F12.2)', '')
  call r_r8('(F12.2)', '            ')
  call r_r8('(F12.2)', '  1 5 ')
  call r_r8('(F12.2)', '1 . 5 E + 3')
  call r_r8('(F12.2)', '1.5e 3')
  call r_r8('(F12.2)', '1.5e+03')
  call r_r8('(F12.2)', '1.5E')
  call r_r8('(F12.2)', '1.5E+')
  call r_r8('(F12.2)', '1.5E3.0')
  call r_r8('(F12.2)', '1.5E+3-')
  call r_r8('(F12.2)', '.')
  call r_r8('(F12.2)', '-')
  call r_r8('(F12.2)', '-.5')
  call r_r8('(F12.2)', '+5')
  call r_r8('(F12.2)', '5.')
  call r_r8('(F12.2)', '-0')
  call r_r8('(F12.2)', 'E3')
  call r_r8('(F12.2)', '+-1')
  call r_r8('(F12.2)', '1.2.3')
  call r_r8('(F12.2)', '1,5')
  call r_r8('(F12.2)', ' 1.5'//achar(9))
  call r_r8('(F12.2)', 'abc')
  call r_r8('(F12.2)', '1q3')
  call r_r8('(F12.2)', '1.5Q3')
  call r_r8('(F12.2)', '1.5d+300')
  call r_r8('(F12.2)', '1.5d+400')
  call r_r8('(F12.2)', '1.5d-400')
  call r_r8('(F12.2)', '4.9d-324')
  call r_r8('(F12.2)', ' 0.1')
  call r_r8('(F12.2)', 'NaN')
  call r_r8('(F12.2)', '  inf  ')
  call r_r8('(F12.2)', 'Infinity')
  call r_r8('(F12.2)', '-Infinity')
  call r_r8('(F12.2)', 'Infinityx')
  call r_r8('(F12.2)', 'infin')
  call r_r8('(F12.2)', 'i n f')
  call r_r8('(F12.2)', 'NaN()')
  call r_r8('(F12.2)', 'nan(1a)')
  call r_r8('(F3.0)', '1.59')
  call r_r8('(F4.1)', '1234')
  call r_r8('(F5.0)', '1234')
  call r_r8('(E12.2)', '  1')
  call r_r8('(ES12.2)', '  1')
  call r_r8('(ES12.2)', ' 1.25E-2')
  call r_r8('(E12.3E3)', ' 1.25E-2')
  call r_r8('(F30.0)', '0.1000000000000000055511151231257827')
  call r_r8('(F30.0)', '2.2250738585072011e-308')
  call r_r8('(F30.0)', '123456789012345678901234567890')
  call r_r8('(F12.8)', '  0.33333333')
  call r_r8('(f12.8)', '1.5E3')
  call r_r4('(F30.0)', '1.00000005960464478')
  call r_r4('(F30.0)', '1.000000059604644775390625')
  call r_r4('(F30.0)', '1.0000000596046447753906251')
  call r_r4('(F12.8)', '1')
  call r_r4('(F12.2)', '1.5e+40')
  call r_r4('(F12.2)', '1.5e-50')
  call r_r4('(F12.2)', ' 0.1')

  ! Output: the best-configuration files, with values at the F12.4/F11.4 rounding ties
  call w_cv('(2A12,3A21)', [character(12) :: 'ClusterIndex', 'Probability', 'OffspringID', &
                            'FatherID', 'MotherID'])
  call w_i4r8c3('(I12, F12.4, 3A21)', 1, 1d0, '                  O1', '                  *1', &
                '                  M2')
  call w_i4r8c3('(I12, F12.4, 3A21)', 12, 0.12345d0, 'x', '                  *-', 'a name that is long')
  call w_i4r8c3('(I12, F12.4, 3A21)', 3, 0.00005d0, ' ', ' ', ' ')
  call w_i4r8c3('(I12, F12.4, 3A21)', 3, 0.99995d0, ' ', ' ', ' ')
  call w_i4r8c3('(I12, F12.4, 3A21)', 3, 0.5d0**15, ' ', ' ', ' ')
  call w_i4r8r8('(I16,2F11.4)', 1, 0.00015d0, 0.99985d0)
  call w_i4r8r8('(I16,2F11.4)', 1000000, 1d0, 0d0)
  call w_i4r8r8('(I16,2F11.4)', 7, 0.5d0**14, 3d0 / 16d0)
  call w_i4r8r8('(I16,2F11.4)', 2, 1d0 / 32d0, 3d0 / 32d0)
  call w_i4r8c3('(I12, F12.4, 3A21)', 4, 1d0 / 32d0, ' ', ' ', ' ')
  call w_i4r8c3('(I12, F12.4, 3A21)', 5, 3d0 / 32d0, ' ', ' ', ' ')
  call w_cv('(A20,2A21)', [character(11) :: 'OffspringID', 'FatherID', 'MotherID'])
  call w_cv('(A20, 2A21)', [character(20) :: '                  O7', '                  #3', &
                            '                  #3'])
  call w_c('(A14)', 'CloneIndex')
  call w_c('(A14)', 'ClusterIndex')
  call w_i4('(I14)', 1)
  call w_i4('(I14)', 32767)
  call w_cv('(3A)', [character(8) :: ',Member2', ',Member3'])
  call w_cv('(2A)', [character(8) :: ',Member2'])

  ! Input: A and X editing
  call r_c3('(A5)', 'abcdefgh')
  call r_c3('(A2)', 'abcdefgh')
  call r_c3('(A)', 'abcdefgh')
  call r_c3('(A3)', 'abcdefgh')
  call r_c3('(A)', 'a')
  call r_c3('(A)', '')
  call r_c5('(A)', 'ab')
  call r_c5('(A4)', 'ab')
  call r_c5('(2X,A3)', 'abcdefgh')
  call r_c5('(a7)', 'abcdefgh')
  call r_c5i4r8('(A5,I3,F6.2)', 'name   42  1.5')
  call r_c5i4r8('(A5,I3,F6.2)', 'name   42   150')
  call r_c5i4r8('(A5,1X,I3,F6.2)', 'name 42')
  call r_c5i4r8('(A5,I3,F6.2)', 'name  4x')
  call r_c5i4r8('(A5,I3)', 'name   42  1.5')

  close (wout)
  close (rout)
end program format_table
