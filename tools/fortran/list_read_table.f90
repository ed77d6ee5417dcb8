! Generator of the list-directed input table replayed by tests/core/test_record_reader.cpp.
!
! Reads a case file (list_read_cases.txt) and, for each case, writes its records byte by byte
! to a scratch file, reads it with list-directed READ statements into a fixed item list (the
! case's signature), and prints the status and item values after each statement, then where
! the file is left: the record a "(A)" read gets next, and the records got after one and after
! two BACKSPACE statements.
!
! Case file:
!   case NAME SIGNATURE NREADS [crlf] [nolf]
!   rec TEXT          (one per record; escapes \s blank, \t tab, \r CR, \\ backslash)
!   end
! "crlf" ends every record with CR LF, "nolf" leaves the last record without its LF.
!
! Output (list_read_table.txt): the case and rec lines unchanged, then per statement
!   result K ok|end|error
!   val TEXT          (one per item element: integers in decimal, reals as the hex of their
!                     bits, logicals T/F, texts between [ and ] with their padding)
! then "next TEXT", "back1 TEXT", "back2 TEXT" (TEXT trimmed and escaped, or <eof>), "end".
!
! Build and run:  gfortran -O0 list_read_table.f90 -o list_read_table &&
!                 ./list_read_table list_read_cases.txt > ../../tests/core/data/list_read_table.txt
program list_read_table
  use, intrinsic :: iso_fortran_env, only: int8, int16, int32, int64, real32, real64
  implicit none
  integer, parameter :: maxrec = 40
  character(len=1000) :: line, recs(maxrec)
  character(len=64) :: cname, sig, w(6)
  character(len=400) :: casefile
  integer :: nrec, nreads, ios, cu
  logical :: crlf, nolf

  call get_command_argument(1, casefile)
  open (newunit=cu, file=trim(casefile), status='old', action='read')
  do
    read (cu, '(A)', iostat=ios) line
    if (ios /= 0) exit
    if (line(1:5) /= 'case ') cycle
    w = ' '
    read (line(6:), *, iostat=ios) w
    cname = w(1)
    sig = w(2)
    read (w(3), *) nreads
    crlf = any(w(4:6) == 'crlf')
    nolf = any(w(4:6) == 'nolf')
    write (*, '(A)') trim(line)
    nrec = 0
    do
      read (cu, '(A)') line
      if (line(1:3) == 'end') exit
      nrec = nrec + 1
      recs(nrec) = line(5:)
      write (*, '(A)') trim(line)
    end do
    call write_scratch()
    call run_case(0)
    call run_case(1)
    call run_case(2)
    write (*, '(A)') 'end'
  end do
  close (cu)

contains

  function unescape(s) result(r)
    character(len=*), intent(in) :: s
    character(len=:), allocatable :: r
    integer :: k, n
    r = ''
    n = len_trim(s)
    k = 1
    do while (k <= n)
      if (s(k:k) == '\' .and. k < n) then
        select case (s(k + 1:k + 1))
        case ('s')
          r = r//' '
        case ('t')
          r = r//achar(9)
        case ('r')
          r = r//achar(13)
        case default
          r = r//s(k + 1:k + 1)
        end select
        k = k + 2
      else
        r = r//s(k:k)
        k = k + 1
      end if
    end do
  end function unescape

  function escape(s) result(r)
    character(len=*), intent(in) :: s
    character(len=:), allocatable :: r
    integer :: k
    r = ''
    do k = 1, len(s)
      select case (iachar(s(k:k)))
      case (9)
        r = r//'\t'
      case (13)
        r = r//'\r'
      case (92)
        r = r//'\\'
      case default
        r = r//s(k:k)
      end select
    end do
  end function escape

  subroutine write_scratch()
    integer :: su, k
    open (newunit=su, file='list_read_scratch.dat', access='stream', form='unformatted', &
          status='replace')
    do k = 1, nrec
      write (su) unescape(recs(k))
      if (k < nrec .or. .not. nolf) then
        if (crlf) write (su) achar(13)
        write (su) achar(10)
      end if
    end do
    close (su)
  end subroutine write_scratch

  subroutine status_line(k, st)
    integer, intent(in) :: k, st
    character(len=8) :: s
    if (st == 0) then
      s = 'ok'
    else if (st < 0) then
      s = 'end'
    else
      s = 'error'
    end if
    write (*, '(A,I0,A,A)') 'result ', k, ' ', trim(s)
  end subroutine status_line

  subroutine put_i(v)
    integer(int64), intent(in) :: v
    write (*, '(A,I0)') 'val ', v
  end subroutine put_i

  subroutine put_r8(v)
    real(real64), intent(in) :: v
    write (*, '(A,Z16.16)') 'val ', transfer(v, 0_int64)
  end subroutine put_r8

  subroutine put_r4(v)
    real(real32), intent(in) :: v
    write (*, '(A,Z8.8)') 'val ', transfer(v, 0_int32)
  end subroutine put_r4

  subroutine put_l(v)
    logical, intent(in) :: v
    if (v) then
      write (*, '(A)') 'val T'
    else
      write (*, '(A)') 'val F'
    end if
  end subroutine put_l

  subroutine put_c(v)
    character(len=*), intent(in) :: v
    write (*, '(A)') 'val ['//escape(v)//']'
  end subroutine put_c

  ! One statement of the case's signature; every item starts from a sentinel so that a null
  ! value (item left unchanged) shows as the sentinel.
  subroutine one_read(u, k, printing)
    integer, intent(in) :: u, k
    logical, intent(in) :: printing
    integer(int8) :: b1
    integer(int16) :: b2
    integer(int32) :: n1, n2, n3, na(5)
    integer(int64) :: b8
    real(real32) :: f1, f2
    real(real64) :: d1, d2, d3, da(4)
    logical :: l1, l2, l3
    character(len=3) :: c3
    character(len=8) :: s1, s2
    character(len=20) :: c20
    integer :: st, j
    b1 = -99; b2 = -99; n1 = -99; n2 = -99; n3 = -99; na = -99; b8 = -99
    f1 = -99; f2 = -99; d1 = -99; d2 = -99; d3 = -99; da = -99
    l1 = .true.; l2 = .true.; l3 = .true.
    c3 = 'ini'; s1 = 'init'; s2 = 'init'; c20 = 'init'
    select case (trim(sig))
    case ('i4x3')
      read (u, *, iostat=st) n1, n2, n3
      if (printing) then
        call status_line(k, st)
        call put_i(int(n1, int64)); call put_i(int(n2, int64)); call put_i(int(n3, int64))
      end if
    case ('i1')
      read (u, *, iostat=st) b1
      if (printing) then
        call status_line(k, st); call put_i(int(b1, int64))
      end if
    case ('i2')
      read (u, *, iostat=st) b2
      if (printing) then
        call status_line(k, st); call put_i(int(b2, int64))
      end if
    case ('i4')
      read (u, *, iostat=st) n1
      if (printing) then
        call status_line(k, st); call put_i(int(n1, int64))
      end if
    case ('i8')
      read (u, *, iostat=st) b8
      if (printing) then
        call status_line(k, st); call put_i(b8)
      end if
    case ('r4x2')
      read (u, *, iostat=st) f1, f2
      if (printing) then
        call status_line(k, st); call put_r4(f1); call put_r4(f2)
      end if
    case ('r8')
      read (u, *, iostat=st) d1
      if (printing) then
        call status_line(k, st); call put_r8(d1)
      end if
    case ('r8x3')
      read (u, *, iostat=st) d1, d2, d3
      if (printing) then
        call status_line(k, st); call put_r8(d1); call put_r8(d2); call put_r8(d3)
      end if
    case ('l3')
      read (u, *, iostat=st) l1, l2, l3
      if (printing) then
        call status_line(k, st); call put_l(l1); call put_l(l2); call put_l(l3)
      end if
    case ('c8x2')
      read (u, *, iostat=st) s1, s2
      if (printing) then
        call status_line(k, st); call put_c(s1); call put_c(s2)
      end if
    case ('c3')
      read (u, *, iostat=st) c3
      if (printing) then
        call status_line(k, st); call put_c(c3)
      end if
    case ('c20')
      read (u, *, iostat=st) c20
      if (printing) then
        call status_line(k, st); call put_c(c20)
      end if
    case ('mix')
      read (u, *, iostat=st) n1, d1, s1, l1
      if (printing) then
        call status_line(k, st); call put_i(int(n1, int64)); call put_r8(d1)
        call put_c(s1); call put_l(l1)
      end if
    case ('i4a5')
      read (u, *, iostat=st) na
      if (printing) then
        call status_line(k, st)
        do j = 1, 5
          call put_i(int(na(j), int64))
        end do
      end if
    case ('r8a4')
      read (u, *, iostat=st) da
      if (printing) then
        call status_line(k, st)
        do j = 1, 4
          call put_r8(da(j))
        end do
      end if
    case ('i4c8')
      read (u, *, iostat=st) n1, s1
      if (printing) then
        call status_line(k, st); call put_i(int(n1, int64)); call put_c(s1)
      end if
    case ('c8i4')
      read (u, *, iostat=st) s1, n1
      if (printing) then
        call status_line(k, st); call put_c(s1); call put_i(int(n1, int64))
      end if
    case default
      write (*, '(A)') 'unknown signature '//trim(sig)
      stop 1
    end select
  end subroutine one_read

  ! mode 0: print every statement and the next record; mode 1 and 2: silently repeat the
  ! statements, then BACKSPACE once or twice and print the record read then.
  subroutine run_case(mode)
    integer, intent(in) :: mode
    integer :: u, k, st
    character(len=1000) :: probe
    open (newunit=u, file='list_read_scratch.dat', status='old', action='read')
    do k = 1, nreads
      call one_read(u, k, mode == 0)
    end do
    do k = 1, mode
      backspace (u)
    end do
    read (u, '(A)', iostat=st) probe
    if (mode == 0) then
      line = 'next '
    else if (mode == 1) then
      line = 'back1 '
    else
      line = 'back2 '
    end if
    if (st /= 0) then
      write (*, '(A)') trim(line)//' <eof>'
    else
      write (*, '(A)') trim(line)//' '//escape(trim(probe))
    end if
    close (u, status='delete')
    if (mode < 2) call write_scratch()
  end subroutine run_case

end program list_read_table
