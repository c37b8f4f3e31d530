Class C
End Class
