! Fortran interfaces to the su55if library. Every procedure has the same
! fourteen arguments, all passed by reference as a Fortran host passes them;
! vectors are 1-based and located through the offset vectors.
module su55if
  use, intrinsic :: iso_c_binding, only: c_double, c_int
  implicit none
  private
  public :: su55if_procedure

  ! The numbers of su55if.h, restated (a Fortran compiler cannot read the C
  ! header); the test check.description compares them with the header.
  ! The schedule's room for stages.
  integer(c_int), parameter, public :: su55if_max_stages = 100
  ! status after a diagnostic (the host must end the run), and after every
  ! call of SU55IF_REPTIM.
  integer(c_int), parameter, public :: su55if_status_fatal = 4
  integer(c_int), parameter, public :: su55if_status_reptim = 1
  ! Call modes: outputs only, the derivative block only, both.
  real(c_double), parameter, public :: su55if_mode_outputs = 0
  real(c_double), parameter, public :: su55if_mode_derivatives = 3
  real(c_double), parameter, public :: su55if_mode_both = 4
  public :: su55if_defst, su55if_chkst, su55if_upstgtim, su55if_inttim, su55if_iinttim, &
            su55if_actyp, su55if_iactyp, su55if_reptim, su55if_pfnrswtch

  abstract interface
    subroutine su55if_procedure(realInputs, inputSizes, realOutputs, outputSizes, inputOffsets, &
                                outputOffsets, status, unused, workspace, workspaceSize, derivatives, &
                                derivativeCount1, derivativeCount2, callMode) bind(C)
      import :: c_double, c_int
      real(c_double), intent(in) :: realInputs(*)       ! the input values
      integer(c_int), intent(in) :: inputSizes(*)       ! element k: values of input k
      real(c_double), intent(inout) :: realOutputs(*)   ! the output values
      integer(c_int), intent(in) :: outputSizes(*)      ! element k: values of output k
      integer(c_int), intent(in) :: inputOffsets(*)     ! element k: position of input k
      integer(c_int), intent(in) :: outputOffsets(*)    ! element k: position of output k
      integer(c_int), intent(inout) :: status           ! 4: stop the run
      integer(c_int), intent(in) :: unused              ! never read
      real(c_double), intent(inout) :: workspace(*)     ! per instance (SU55IF_REPTIM: 5)
      integer(c_int), intent(in) :: workspaceSize
      real(c_double), intent(inout) :: derivatives(*)   ! only ever zeroed
      integer(c_int), intent(in) :: derivativeCount1
      integer(c_int), intent(in) :: derivativeCount2
      real(c_double), intent(in) :: callMode            ! 0 outputs, 3 derivatives, 4 both
    end subroutine su55if_procedure
  end interface

  procedure(su55if_procedure), bind(C, name='SU55IF_DEFST') :: su55if_defst
  procedure(su55if_procedure), bind(C, name='SU55IF_CHKST') :: su55if_chkst
  procedure(su55if_procedure), bind(C, name='SU55IF_UPSTGTIM') :: su55if_upstgtim
  procedure(su55if_procedure), bind(C, name='SU55IF_INTTIM') :: su55if_inttim
  procedure(su55if_procedure), bind(C, name='SU55IF_IINTTIM') :: su55if_iinttim
  procedure(su55if_procedure), bind(C, name='SU55IF_ACTYP') :: su55if_actyp
  procedure(su55if_procedure), bind(C, name='SU55IF_IACTYP') :: su55if_iactyp
  procedure(su55if_procedure), bind(C, name='SU55IF_REPTIM') :: su55if_reptim
  procedure(su55if_procedure), bind(C, name='SU55IF_PFNRSWTCH') :: su55if_pfnrswtch
end module su55if
