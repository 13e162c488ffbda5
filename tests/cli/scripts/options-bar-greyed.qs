# A greyed check box takes no click.
new 32 32 24
command 15303
optionbar Fill 0
optionbar Outline 0
