! A Fortran host of the su55if library, driving it as a simulator does: it
! defines a five-stage cycle with SU55IF_DEFST, asks SU55IF_INTTIM when each
! stage's partner began and decodes the action codes with SU55IF_ACTYP. It
! ends the run when a procedure returns status 4.
program fortran_host
  use, intrinsic :: iso_c_binding, only: c_double, c_int
  use, intrinsic :: iso_fortran_env, only: output_unit
  use su55if
  implicit none

  ! One call's arguments as the library expects them: the values of every
  ! input argument one after the other in inputs, with their sizes and
  ! 1-based offsets, and likewise for the outputs.
  type :: frame
    real(c_double) :: inputs(32) = 0.0_c_double
    real(c_double) :: outputs(32) = 0.0_c_double
    integer(c_int) :: inputSizes(8) = 0, outputSizes(8) = 0
    integer(c_int) :: inputOffsets(8) = 0, outputOffsets(8) = 0
    integer :: inputCount = 0, outputCount = 0
  end type frame

  integer, parameter :: kStages = 5
  ! Stage 1 interacts with stage 3 and stage 2 with stage 5 (a negative entry:
  ! the partner's timing is reported the other way round); stage 4 with none.
  real(c_double), parameter :: kInteractions(kStages) = &
      [3.0_c_double, -5.0_c_double, 1.0_c_double, 0.0_c_double, -2.0_c_double]
  real(c_double), parameter :: kRequested(kStages) = &
      [10.0_c_double, 20.0_c_double, 10.0_c_double, 5.0_c_double, 20.0_c_double]

  real(c_double) :: durations(kStages) = kRequested  ! the durations the simulator holds
  integer(c_int) :: status = 0                        ! kept by the simulator across calls

  call define_schedule(0.0_c_double)
  call report_interactions(0.0_c_double)
  call report_interactions(32.0_c_double)

  ! The simulator lengthens stage 4; the schedule follows at the next call.
  durations(4) = 15.0_c_double
  call define_schedule(100.0_c_double)
  call report_interactions(100.0_c_double)

  ! A stage beyond the schedule: the library writes its diagnostic and
  ! returns status 4, and the run ends here.
  write (output_unit, '(a)') 'Asking for stage 6 of 5:'
  call report_stage(6, 100.0_c_double)
  if (status == su55if_status_fatal) then
    write (output_unit, '(a)') 'Status 4: the run ends.'
    stop
  end if
  write (output_unit, '(a)') 'The run should have ended.'
  error stop 1

contains

  subroutine add_input(f, values)
    type(frame), intent(inout) :: f
    real(c_double), intent(in) :: values(:)
    integer(c_int) :: first
    f%inputCount = f%inputCount + 1
    first = 1 + sum(f%inputSizes(1:f%inputCount - 1))
    f%inputOffsets(f%inputCount) = first
    f%inputSizes(f%inputCount) = size(values, kind=c_int)
    f%inputs(first:first + size(values) - 1) = values
  end subroutine add_input

  subroutine add_output(f, count)
    type(frame), intent(inout) :: f
    integer(c_int), intent(in) :: count
    f%outputCount = f%outputCount + 1
    f%outputOffsets(f%outputCount) = 1 + sum(f%outputSizes(1:f%outputCount - 1))
    f%outputSizes(f%outputCount) = count
  end subroutine add_output

  real(c_double) function output(f, k, element)
    type(frame), intent(in) :: f
    integer, intent(in) :: k, element
    output = f%outputs(f%outputOffsets(k) + element - 1)
  end function output

  ! Calls one procedure for outputs only (call mode 0), with no derivatives
  ! and no workspace of its own.
  subroutine run(f, procedure)
    type(frame), intent(inout) :: f
    procedure(su55if_procedure) :: procedure
    integer(c_int), parameter :: kNone = 0, kWorkspaceSize = 5
    real(c_double) :: workspace(kWorkspaceSize), derivatives(1)
    workspace = 0.0_c_double
    derivatives = 0.0_c_double
    ! The library writes its diagnostics to the same standard output.
    flush (output_unit)
    call procedure(f%inputs, f%inputSizes, f%outputs, f%outputSizes, f%inputOffsets, f%outputOffsets, &
                   status, kNone, workspace, kWorkspaceSize, derivatives, kNone, kNone, su55if_mode_outputs)
  end subroutine run

  ! SU55IF_DEFST: takes the durations into the schedule (at time 0 the
  ! requested ones) and reports it back.
  subroutine define_schedule(time)
    real(c_double), intent(in) :: time
    type(frame) :: f
    integer :: k
    call add_input(f, kRequested)
    call add_input(f, durations)
    call add_input(f, [0.0_c_double])   ! hold switch: let the schedule follow
    call add_input(f, [time])
    call add_input(f, [2.0_c_double])   ! the stage whose duration to report
    call add_input(f, [0.0_c_double])   ! reference time
    call add_output(f, int(kStages, c_int))
    call add_output(f, 1_c_int)
    call add_output(f, 1_c_int)
    call add_output(f, 1_c_int)
    call add_output(f, 1_c_int)
    call run(f, su55if_defst)
    write (output_unit, '(a,f6.1,a,5f6.1,a,f6.1)') 'Time', time, ': stage durations', &
        (output(f, 1, k), k = 1, kStages), ', cycle', output(f, 5, 1)
    write (output_unit, '(a,f6.1,a,f6.1)') '  stage 2 lasts', output(f, 2, 1), &
        ', the stage after it', output(f, 3, 1)
  end subroutine define_schedule

  subroutine report_interactions(time)
    real(c_double), intent(in) :: time
    integer :: stage
    write (output_unit, '(a,f6.1,a)') 'Time', time, ': when each stage''s partner began'
    write (output_unit, '(a)') '  (spans reported with codes 2 and 1; indicators of codes 1, 2, -2, -1)'
    do stage = 1, kStages
      call report_stage(stage, time)
    end do
  end subroutine report_interactions

  ! SU55IF_INTTIM for one stage, then SU55IF_ACTYP on its action code.
  subroutine report_stage(stage, time)
    integer, intent(in) :: stage
    real(c_double), intent(in) :: time
    type(frame) :: timing, decoding
    integer :: k
    call add_input(timing, kInteractions)
    call add_input(timing, [real(stage, c_double)])
    call add_input(timing, [time])
    do k = 1, 3
      call add_output(timing, 1_c_int)
    end do
    call run(timing, su55if_inttim)
    if (status == su55if_status_fatal) return

    call add_input(decoding, [output(timing, 3, 1)])
    do k = 1, 4
      call add_output(decoding, 1_c_int)
    end do
    call run(decoding, su55if_actyp)
    write (output_unit, '(a,i2,a,f5.1,a,2f6.1,a,4f4.1)') '  stage', stage, ': code', output(timing, 3, 1), &
        ', spans', output(timing, 1, 1), output(timing, 2, 1), &
        ', indicators', (output(decoding, k, 1), k = 1, 4)
  end subroutine report_stage

end program fortran_host
